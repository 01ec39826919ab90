// What a unit sends, through the engine's receive path: the first byte picks
// the command whose reply check runs and the size of each received chunk;
// the rest arrives in those chunks, is cut into frames (buffer within its
// cap), decoded and checked. Nothing may read past a buffer.
#include "fuzz/fuzz_check.h"
#include "updater/recovery_bytes.h"
#include "updater/recovery_frame.h"

#include <QByteArray>

namespace {

constexpr uint16_t kCommands[] = {1, 2, 4, 5, 6, 8, 9, 13};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint16_t command = kCommands[data[0] & 7];
    const size_t chunk = 1 + (data[0] >> 3) * 97;
    RecoveryFrameCutter cutter;
    QByteArray frame;
    for (size_t position = 1; position < size;) {
        const size_t n = std::min({chunk, size - position, static_cast<size_t>(cutter.room())});
        cutter.append(QByteArray(reinterpret_cast<const char*>(data + position), static_cast<int>(n)));
        position += n;
        for (int guard = 0; guard < 100000; ++guard) {
            const RecoveryFrameCutter::Cut cut = cutter.cut(&frame);
            fuzzCheck(cutter.size() <= kRecoveryReceiveCap + 1);
            if (cut != RecoveryFrameCutter::Cut::Frame)
                break;
            QByteArray message;
            if (recovery_decodeFrame(frame, &message) != RecoveryDecode::Ok) {
                fuzzCheck(message.isEmpty());
                continue;
            }
            fuzzCheck(message.size() <= frame.size());
            if (message.size() >= 2) {
                message[0] = static_cast<char>(command >> 8);
                message[1] = static_cast<char>(command);
            }
            const RecoveryReplyCheck check = recovery_checkReply(message);
            fuzzCheck(check.code == 0 || (check.code >= 9 && check.code <= 20));
            fuzzCheck(check.text.size() <= message.size());
        }
    }
    return 0;
}
