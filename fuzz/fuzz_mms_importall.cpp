// A multi-function image from untrusted bytes into a field of two
// functions: the record walk must end and nothing may be read past the
// buffer, whatever the records and images hold.

#include "mms/mms_field.h"
#include "mms/mms_loader.h"

#include <cstdint>
#include <vector>

using namespace MMS;

namespace {

const char kLayout[] = "<function name=\"Mixer\" stringsize=\"16\"><collections>"
                       "<parameter name=\"flags\" type=\"bit\" arraysize=\"3\"/>"
                       "<parameter name=\"gain\" type=\"int16_t\" arraysize=\"2\"/>"
                       "<parameter name=\"label\" type=\"string\"><maximum>8</maximum></parameter>"
                       "<parameter name=\"trim\" type=\"float\"/>"
                       "<collection name=\"ch\" arraysize=\"3\"><parameter name=\"pan\" type=\"int32_t\"/></collection>"
                       "</collections></function>";

Base& field()
{
    static Base base(nullptr);
    static const bool loaded = [] {
        for (const char* name : {"Other", "Mixer"})
            mms_loadDefinitionFromMemory(&base, nullptr, 0, name, 6, kLayout, sizeof kLayout, LOAD_ACTIVATE);
        return true;
    }();
    (void)loaded;
    return base;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Base& f = field();
    WriterOptions writer;
    writer.key = 1;
    // Exact-size heap blocks, so any read past the end is caught.
    std::vector<uint8_t> buffer(data, data + size);
    f.importAll(buffer.data(), static_cast<uint32_t>(buffer.size()), nullptr, 0, writer);
    buffer.assign(data, data + size);
    f.importAllCopy(buffer.data(), static_cast<uint32_t>(buffer.size()), "/Mixer", 6, writer);
    return 0;
}
