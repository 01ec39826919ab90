// "#MMS FIELD" blocks from untrusted bytes: the input as a block's image and
// as a whole setup file; whatever the block accepts is handed to a field's
// import, which must refuse or take it without reading past the bytes.
#include "fuzz/fuzz_work_file.h"
#include "mmsfield/mmsfield_block.h"

#include "mms/mms_loader.h"
#include "mms/mms_lockedfield.h"

#include <cstdlib>
#include <cstring>
#include <string>

using namespace FILECACHE;
using namespace MMSFUNC;

namespace {

// The layout of the python peer's sample function, so that seeds made by the
// peer pass the import's definition check and reach the data.
const char kLayout[] = "<function name=\"Mixer\" collections=\"1\" parameters=\"8\" stringsize=\"16\"><collections>"
                       "<parameter name=\"flags\" type=\"bit\" arraysize=\"3\"/>"
                       "<parameter name=\"gain\" type=\"int16_t\" arraysize=\"2\"/>"
                       "<parameter name=\"mute\" type=\"bit\" arraysize=\"10\"/>"
                       "<parameter name=\"level\" type=\"uint32_t\"/>"
                       "<parameter name=\"label\" type=\"string\"><maximum>8</maximum></parameter>"
                       "<parameter name=\"trim\" type=\"float\"><default>0.5</default></parameter>"
                       "<collection name=\"ch\" arraysize=\"3\">"
                       "<parameter name=\"vol\" type=\"uint16_t\"/><parameter name=\"pan\" type=\"int32_t\"/>"
                       "</collection></collections></function>";

MMS::Field& field()
{
    static MMS::Field f(nullptr, nullptr);
    static const bool loaded = MMS::mms_loadDefinitionFromMemory(&f, nullptr, 0, "Mixer", 6, kLayout,
                                   static_cast<uint32_t>(sizeof kLayout - 1), MMS::LOAD_ACTIVATE)
        >= 0;
    if (!loaded)
        std::abort();
    return f;
}

void import(const MBDFMMSFieldBlock& block)
{
    MMS::WriterOptions writer;
    (void)field().importImageCopyByName(
        block.image(), block.imageLength(), nullptr, 0, "Mixer", nullptr, 0, nullptr, 0, 0, writer);
}

void putBE32(uint8_t* out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    mbdf_registerMMSFieldBlockFactory();
    if (size > MBDF_BLOCK_LIMIT)
        return 0;

    // The input as the image of one block.
    std::string bytes(MBDF_HEADER_SIZE, '\0');
    std::memcpy(&bytes[0], "#MMS FIELD\0\0Mixer", 17);
    putBE32(reinterpret_cast<uint8_t*>(&bytes[28]), static_cast<uint32_t>(size));
    bytes.append(reinterpret_cast<const char*>(data), size);
    bytes.append((4 - size % 4) % 4, '\0');
    MBDFMMSFieldBlock block;
    size_t consumed = 0;
    if (block.parseFromMemory(bytes.data(), bytes.size(), &consumed) >= 0 && block.isValid())
        import(block);

    // The input as a setup file.
    const std::string& path = fuzz_work_file::write("in.quil", data, size);
    MBDF container(4);
    if (container.read(path.c_str(), true, nullptr, nullptr) >= 0) {
        for (MBDF::Position p = container.begin(); p != container.end(); p = container.next(p))
            if (auto* b = dynamic_cast<MBDFMMSFieldBlock*>(&container.blockAt(p)))
                import(*b);
    }
    return 0;
}
