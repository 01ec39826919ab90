// The XMODEM sender against a receiver that sends arbitrary bytes and stays
// silent at will: the first byte picks the mode and the file, each further
// byte is one step (0xFF: a silent step, else that byte). Every packet must
// be CAN CAN CAN, a lone EOT or a well-formed block of the file in order,
// and once the input ends silence must end the transfer (state 4 or 5)
// within 300 steps.
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_work_file.h"
#include "fwupdate/mfu/mfu_xmodem.h"
#include "pbd/OSWRAP/oswrap.h"

#include <cstring>
#include <deque>
#include <string>

namespace {

// Each step is one tick of the task apart, so silent steps count.
uint32_t g_tick = 0;
uint32_t tick()
{
    return g_tick;
}

class Receiver : public ITransfererCallback {
public:
    int32_t sendBytes(const void* data, uint32_t length) override
    {
        packets.emplace_back(static_cast<const char*>(data), length);
        return MFU_OK;
    }
    int32_t readBytes(void* buffer, uint32_t, uint32_t* countOut) override
    {
        *countOut = 0;
        if (input.empty())
            return 0;
        const int next = input.front();
        input.pop_front();
        if (next < 0)
            return 0;
        *static_cast<uint8_t*>(buffer) = static_cast<uint8_t>(next);
        *countOut = 1;
        return 2;
    }
    std::deque<int> input;
    std::deque<std::string> packets;
};

struct Checker {
    std::string file;
    bool oneK;
    int lastBlock = 0; // blocks sent so far (resends repeat the last)
    bool ended = false; // EOT or CAN sent

    void check(const std::string& p)
    {
        fuzzCheck(!p.empty());
        if (p == std::string(3, '\x18')) {
            ended = true;
            return;
        }
        if (p == "\x04") {
            // Only once every block went out.
            fuzzCheck(static_cast<size_t>(lastBlock) * (oneK ? 1024 : 128) >= file.size());
            ended = true;
            return;
        }
        fuzzCheck(!ended);
        const size_t block = oneK ? 1024 : 128;
        fuzzCheck(p.size() == block + 4 || p.size() == block + 5);
        fuzzCheck(static_cast<uint8_t>(p[0]) == (oneK ? 0x02 : 0x01));
        const uint8_t number = static_cast<uint8_t>(p[1]);
        fuzzCheck(static_cast<uint8_t>(p[2]) == static_cast<uint8_t>(~number));
        // The same block again or the next one.
        const bool resend = number == static_cast<uint8_t>(lastBlock);
        fuzzCheck(resend || number == static_cast<uint8_t>(lastBlock + 1));
        if (!resend)
            ++lastBlock;
        const size_t offset = static_cast<size_t>(lastBlock - 1) * block;
        fuzzCheck(offset < file.size());
        std::string expected = file.substr(offset, block);
        expected.resize(block, '\x1A');
        fuzzCheck(p.compare(3, block, expected) == 0);
        const uint8_t* d = reinterpret_cast<const uint8_t*>(p.data() + 3);
        if (p.size() == block + 5) {
            const uint16_t crc = xmodem_crc16(d, static_cast<uint32_t>(block));
            fuzzCheck(static_cast<uint8_t>(p[block + 3]) == crc >> 8);
            fuzzCheck(static_cast<uint8_t>(p[block + 4]) == (crc & 0xFF));
        } else {
            uint8_t sum = 0;
            for (size_t i = 0; i < block; ++i)
                sum = static_cast<uint8_t>(sum + d[i]);
            fuzzCheck(static_cast<uint8_t>(p[block + 3]) == sum);
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 4096)
        return 0;
    static const size_t kSizes[] = {0, 1, 128, 129, 1024, 3000, 40000, 300};
    const int32_t mode = data[0] % 3;
    std::string content(kSizes[(data[0] >> 2) % 8], '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 31 + 7);
    const std::string& path
        = fuzz_work_file::write("image.bin", reinterpret_cast<const uint8_t*>(content.data()), content.size());

    oswrap_setTickSource(tick);
    Receiver unit;
    TransferXModem xmodem(mode);
    fuzzCheck(xmodem.setFilePath(path.c_str()) == MFU_OK);
    fuzzCheck(xmodem.setCallback(&unit) == MFU_OK);
    fuzzCheck(xmodem.start() == MFU_OK);
    Checker checker{content, mode == MFU_TRANSFER_XMODEM_1K};
    for (size_t i = 1; i < size && !xmodem.finished(); ++i) {
        unit.input.push_back(data[i] == 0xFF ? -1 : data[i]);
        g_tick += XMODEM_SILENT_CALL_MS;
        xmodem.step();
        for (; !unit.packets.empty(); unit.packets.pop_front())
            checker.check(unit.packets.front());
    }
    for (int i = 0; i < 300 && !xmodem.finished(); ++i) {
        g_tick += XMODEM_SILENT_CALL_MS;
        xmodem.step();
        for (; !unit.packets.empty(); unit.packets.pop_front())
            checker.check(unit.packets.front());
    }
    fuzzCheck(xmodem.finished());
    fuzzCheck(xmodem.bytesSent() <= content.size());
    return 0;
}
