// The layout loader: an Expat stream parse driven by a small state machine
// whose handlers turn elements into definition calls on the field.

#include "mms/mms_loader.h"

#include "mms/mms_field.h"
#include "mms/mms_paramtype.h"
#include "mms/mms_wrap.h"
#include "pbd/fsw/fsw.h"
#include "pbd/jlib/jlib_text.h"
#include "pbd/jlib/jvariant.h"

#include <expat.h>

#include <cstring>
#include <memory>

namespace MMS {
namespace {

enum LoaderState : uint8_t {
    STATE_BEFORE_FUNCTION = 0,
    STATE_IN_FUNCTION = 1,
    STATE_IN_COLLECTIONS = 2,
    STATE_IN_PARAMETER = 3,
    STATE_IN_CHILD = 4,
    STATE_SKIPPING = 5,
    // After the function's end tag: anything further is skipped. The table
    // of states ends at 5; without this one a second "function" element
    // after the first would define another function.
    STATE_DONE = 6,
};

enum ChildCode : uint8_t {
    CHILD_MINIMUM = 0,
    CHILD_MAXIMUM = 1,
    CHILD_DEFAULT = 2,
    CHILD_STEP = 3,
    CHILD_NOMINAL = 4,
    CHILD_UNIT = 5,
    CHILD_SCALING = 6,
    CHILD_KIND = 7,
    CHILD_NONE = 0xFF,
};

constexpr const char* kChildNames[] = {"minimum", "maximum", "default", "step", "nominal", "unit", "scaling", "kind"};
// The shortest element that adds a node ("<collection name="a"/>") takes
// more than 16 bytes of text, so stated counts above length / 16 can't be
// true; they would only size an absurd node block. The text pool holds
// units and string texts taken from the text; a stated size far beyond the
// text's length is refused for the same reason.
constexpr uint32_t kBytesPerNode = 16;
constexpr uint64_t kPoolBytesPerTextByte = 16;

struct CollectedParameter {
    char name[MMS_NAME_SIZE] = {};
    uint32_t type = 0;
    uint32_t arraySize = 1;
    uint32_t presence = 0; // bit per child code
    uint8_t child = CHILD_NONE;
    char text[MMS_LOAD_PIECE] = {};
    uint32_t textLength = 0;
    JLIB::JVariant values[5]; // minimum, maximum, default, step, nominal
    char unit[MMS_NAME_SIZE] = {};
    uint32_t scaling = 1;
    uint32_t kind = 0;

    void reset()
    {
        std::memset(name, 0, sizeof name);
        type = 0;
        arraySize = 1;
        presence = 0;
        child = CHILD_NONE;
        text[0] = 0; // only the first textLength bytes are ever read
        textLength = 0;
        for (auto& v : values)
            v.clear();
        std::memset(unit, 0, sizeof unit);
        scaling = 1;
        kind = 0;
    }
};

// The loader's working record for one load.
struct DefinitionLoader {
    IField* field = nullptr;
    char rootKey[MMS_NAME_SIZE] = {};
    char functionName[MMS_NAME_SIZE] = {};
    uint32_t tags[MMS_MAX_DEPTH] = {};
    uint32_t depth = 0;
    uint8_t state = STATE_BEFORE_FUNCTION;
    uint8_t savedState = STATE_BEFORE_FUNCTION;
    uint32_t skipDepth = 0;
    JResult error = 0;
    uint32_t mode = LOAD_DEFINE;
    uint64_t textBytes = 0; // length of the whole text, for the count check
    CollectedParameter parameter;
};

JResult mapLibraryResult(JResult r)
{
    if (r >= 0)
        return 0;
    switch (static_cast<uint32_t>(r) & 0xFF) {
    case 2:
        return MMS_LOAD_E_ARG;
    case 3:
        return MMS_LOAD_E_MEMORY;
    default:
        return MMS_LOAD_E_LIBRARY;
    }
}

// Copies at most 23 characters of a name into a 24-byte field.
void copyName24(char* destination, const char* source)
{
    std::memset(destination, 0, MMS_NAME_SIZE);
    if (source == nullptr)
        return;
    for (uint32_t i = 0; i < MMS_NAME_SIZE - 1 && source[i] != 0; ++i)
        destination[i] = source[i];
}

// Whether an element or attribute name is the literal. Inline, as every
// element asks this a few times and the names are short.
inline bool isName(const char* name, const char* literal)
{
    while (*literal != 0 && *name == *literal) {
        ++name;
        ++literal;
    }
    return *name == *literal;
}

// The attributes the loader reads, found in one pass over the list; a
// name absent from the element stays null.
struct Attributes {
    const char* name = nullptr;
    const char* type = nullptr;
    const char* arraySize = nullptr;
    const char* collections = nullptr;
    const char* parameters = nullptr;
    const char* stringSize = nullptr;

    explicit Attributes(const XML_Char** list)
    {
        for (uint32_t i = 0; list != nullptr && list[i] != nullptr; i += 2)
            take(list[i], list[i + 1]);
    }

private:
    void take(const char* key, const char* value)
    {
        // The first letter rules out all names but one or two.
        switch (key[0]) {
        case 'n':
            keep(&name, key, "name", value);
            break;
        case 't':
            keep(&type, key, "type", value);
            break;
        case 'a':
            keep(&arraySize, key, "arraysize", value);
            break;
        case 'c':
            keep(&collections, key, "collections", value);
            break;
        case 'p':
            keep(&parameters, key, "parameters", value);
            break;
        case 's':
            keep(&stringSize, key, "stringsize", value);
            break;
        default:
            break;
        }
    }
    // The first of equal names counts (the parser refuses a repeated one).
    static void keep(const char** slot, const char* key, const char* literal, const char* value)
    {
        if (*slot == nullptr && isName(key, literal))
            *slot = value;
    }
};

// Name rule: spaces and tabs around are removed; 1 to 23 characters remain
// with no space, tab or "/".
bool readName(const char* value, char* out24)
{
    if (value == nullptr)
        return false;
    size_t begin = 0, end = std::strlen(value);
    while (begin < end && (value[begin] == ' ' || value[begin] == '\t'))
        ++begin;
    while (end > begin && (value[end - 1] == ' ' || value[end - 1] == '\t'))
        --end;
    const size_t length = end - begin;
    if (length == 0 || length > MMS_NAME_SIZE - 1)
        return false;
    for (size_t i = begin; i < end; ++i) {
        if (value[i] == ' ' || value[i] == '\t' || value[i] == '/')
            return false;
    }
    std::memset(out24, 0, MMS_NAME_SIZE);
    std::memcpy(out24, value + begin, length);
    return true;
}

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A plain decimal integer of 1 to 9 digits, with "-" or without (limits
// and defaults are nearly always one), read directly with the result the
// number parser would give; false leaves anything else to that parser. A
// leading zero without sign (octal, or a run of zeros) is left to it too.
bool plainInteger(JLIB::JVariant* out, int32_t* kind, const char* text, size_t length)
{
    const bool negative = text[0] == '-';
    const size_t first = negative ? 1 : 0;
    const size_t digits = length - first;
    if (digits == 0 || digits > 9 || (!negative && text[0] == '0' && length > 1))
        return false;
    uint32_t value = 0;
    for (size_t i = first; i < length; ++i) {
        const uint32_t digit = static_cast<uint32_t>(static_cast<uint8_t>(text[i])) - '0';
        if (digit > 9)
            return false;
        value = value * 10 + digit;
    }
    if (negative) {
        out->setInt32(static_cast<int32_t>(0u - value));
        *kind = JLIB_NUMBER_SIGNED;
    } else {
        out->setUInt32(value);
        *kind = JLIB_NUMBER_UNSIGNED;
    }
    return true;
}

// Parses a number text; surrounding XML white space (space, tab, line
// breaks) is not part of the number, so a value written on its own line
// reads the same as one written inline.
JResult parseNumber(JLIB::JVariant* out, int32_t* kind, const char* text, size_t length)
{
    size_t begin = 0, end = length;
    while (begin < end && isXmlSpace(text[begin]))
        ++begin;
    while (end > begin && isXmlSpace(text[end - 1]))
        --end;
    if (begin == end)
        return MMS_LOAD_E_VALUE;
    if (plainInteger(out, kind, text + begin, end - begin))
        return 0;
    const JResult r = jlib_parseNumberToVariant(out, kind, text + begin, end - begin);
    if (r >= 0)
        return 0;
    if (r == JLIB_TEXT_E_SIZE)
        return MMS_LOAD_E_ARG;
    if (r == JLIB_TEXT_E_MALFORMED)
        return MMS_LOAD_E_VALUE;
    return JLIB_FAIL;
}

// An unsigned attribute: missing or not an unsigned integer gives fallback,
// in every mode (mode 0 included), so one text loads alike in all of them.
uint32_t unsignedAttribute(const char* value, uint32_t fallback)
{
    if (value == nullptr)
        return fallback;
    JLIB::JVariant v;
    int32_t kind = -1;
    if (parseNumber(&v, &kind, value, std::strlen(value)) < 0 || kind != JLIB_NUMBER_UNSIGNED)
        return fallback;
    return v.toInteger();
}

uint32_t arraySizeAttribute(const char* value)
{
    const uint32_t size = unsignedAttribute(value, 1);
    return size == 0 ? 1 : size;
}

void skip(DefinitionLoader* loader)
{
    loader->savedState = loader->state;
    loader->state = STATE_SKIPPING;
    loader->skipDepth = 1;
}

void record(DefinitionLoader* loader, JResult error)
{
    if (loader->error == 0)
        loader->error = error;
}

void startFunction(DefinitionLoader* loader, const XML_Char** list)
{
    const Attributes attributes(list);
    char name[MMS_NAME_SIZE];
    if (!readName(attributes.name, name)) {
        record(loader, MMS_LOAD_E_PARSE);
        skip(loader);
        return;
    }
    const uint32_t collections = unsignedAttribute(attributes.collections, 0);
    const uint32_t parameters = unsignedAttribute(attributes.parameters, 0);
    const uint32_t stringSize = unsignedAttribute(attributes.stringSize, 0);
    // The stated counts size one node block; counts the text can't hold are
    // refused rather than allocated.
    const uint64_t nodes = uint64_t{collections} + parameters;
    if (nodes > loader->textBytes / kBytesPerNode || stringSize > loader->textBytes * kPoolBytesPerTextByte) {
        record(loader, MMS_LOAD_E_PARSE);
        skip(loader);
        return;
    }
    JResult r = 0;
    if (loader->mode != LOAD_DEFINE)
        r = loader->field->reopenDefinition();
    if (r >= 0)
        r = loader->field->defineFunction(loader->rootKey, name, collections, parameters, stringSize);
    // Without a name of its own the function keeps the one of its element;
    // setting the empty name would erase it.
    if (r >= 0 && loader->functionName[0] != 0)
        r = loader->field->setFunctionName(loader->rootKey, loader->functionName);
    if (r < 0) {
        record(loader, MMS_LOAD_E_PARSE);
        skip(loader);
        return;
    }
    loader->state = STATE_IN_FUNCTION;
}

void startCollection(DefinitionLoader* loader, const XML_Char** list)
{
    const Attributes attributes(list);
    char name[MMS_NAME_SIZE];
    if (loader->depth >= MMS_MAX_DEPTH - 1 || !readName(attributes.name, name)) {
        skip(loader);
        return;
    }
    uint32_t tag = 0;
    const JResult r = loader->field->defineCollection(
        &tag, loader->rootKey, loader->tags, loader->depth, name, arraySizeAttribute(attributes.arraySize));
    if (r < 0) {
        // A collection the field refused (duplicate name, stated counts used
        // up) is left out with everything in it; the rest of the layout
        // still loads. The counts bound every allocation, so nothing past
        // them is ever written.
        skip(loader);
        return;
    }
    loader->tags[loader->depth++] = tag;
}

void startParameter(DefinitionLoader* loader, const XML_Char** list)
{
    const Attributes attributes(list);
    CollectedParameter& p = loader->parameter;
    p.reset();
    const char* type = attributes.type;
    if (!readName(attributes.name, p.name) || type == nullptr) {
        skip(loader);
        return;
    }
    p.type = paramTypeFromName(type, static_cast<uint32_t>(std::strlen(type)));
    if (p.type == 0) {
        skip(loader);
        return;
    }
    p.arraySize = arraySizeAttribute(attributes.arraySize);
    loader->state = STATE_IN_PARAMETER;
}

void finishParameter(DefinitionLoader* loader)
{
    CollectedParameter& p = loader->parameter;
    ParameterDefinition d;
    d.name = p.name;
    d.type = p.type;
    d.arraySize = p.arraySize;
    const JLIB::JVariant** slots[] = {&d.minimum, &d.maximum, &d.defaultValue, &d.step, &d.nominal};
    for (uint32_t i = 0; i < 5; ++i) {
        if (p.presence & (1u << i))
            *slots[i] = &p.values[i];
    }
    const uint32_t unitLength = static_cast<uint32_t>(std::strlen(p.unit));
    if (unitLength != 0) {
        d.unit = p.unit;
        d.unitLength = unitLength + 1;
    }
    d.scaling = p.scaling;
    d.kind = p.kind;
    uint32_t tag = 0;
    // A parameter the field refuses (duplicate name, bad limit, counts used
    // up) is simply absent from the definition, like a refused collection.
    loader->field->defineParameter(&tag, loader->rootKey, loader->tags, loader->depth, d);
    // The record is reset when the next parameter starts.
    loader->state = STATE_IN_COLLECTIONS;
}

// Whether a number of this class suits the parameter's type.
bool classFits(uint32_t type, int32_t kind)
{
    if (paramTypeSigned(type))
        return kind == JLIB_NUMBER_UNSIGNED || kind == JLIB_NUMBER_SIGNED;
    if (paramTypeUnsigned(type))
        return kind == JLIB_NUMBER_UNSIGNED;
    if (type == PARAM_FLOAT)
        return kind == JLIB_NUMBER_FLOAT;
    return false;
}

// Accepts the value of the child element that just ended; a value that
// fails its check is dropped and the parse goes on.
void acceptChild(DefinitionLoader* loader)
{
    CollectedParameter& p = loader->parameter;
    const uint8_t code = p.child;
    if (code == CHILD_NONE || (p.presence & (1u << code)))
        return;
    const bool isString = p.type == PARAM_STRING;
    JLIB::JVariant value;
    int32_t kind = -1;
    switch (code) {
    case CHILD_UNIT: {
        // Cut to 23 bytes, never inside a UTF-8 sequence; the unit text is
        // kept as written.
        uint32_t n = p.textLength < MMS_NAME_SIZE - 1 ? p.textLength : MMS_NAME_SIZE - 1;
        if (n < p.textLength) {
            while (n > 0 && (static_cast<uint8_t>(p.text[n]) & 0xC0) == 0x80)
                --n;
        }
        std::memset(p.unit, 0, sizeof p.unit);
        std::memcpy(p.unit, p.text, n);
        break;
    }
    case CHILD_SCALING:
    case CHILD_KIND:
        if (parseNumber(&value, &kind, p.text, p.textLength) < 0 || kind != JLIB_NUMBER_UNSIGNED)
            return;
        (code == CHILD_SCALING ? p.scaling : p.kind) = value.toInteger();
        break;
    default:
        if (isString) {
            if (code == CHILD_MINIMUM || code == CHILD_STEP)
                return;
            if (code == CHILD_DEFAULT || code == CHILD_NOMINAL) {
                if (p.values[code].setString(p.text, p.textLength) < 0)
                    return;
                break;
            }
            // A string's maximum: its size in bytes.
            if (parseNumber(&p.values[code], &kind, p.text, p.textLength) < 0 || kind != JLIB_NUMBER_UNSIGNED)
                return;
            break;
        }
        // Read straight into its slot: a value refused here leaves its
        // presence bit clear, so the slot is never passed on.
        JLIB::JVariant& slot = p.values[code];
        if (parseNumber(&slot, &kind, p.text, p.textLength) < 0 || !classFits(p.type, kind))
            return;
        if (code == CHILD_STEP && (kind == JLIB_NUMBER_SIGNED || (kind == JLIB_NUMBER_FLOAT && slot.toFloat() < 0.0f)))
            return;
        break;
    }
    p.presence |= 1u << code;
}

uint8_t childCode(const char* name)
{
    for (uint8_t i = 0; i < 8; ++i) {
        // The first letter rules out most names without a call.
        if (name[0] == kChildNames[i][0] && isName(name, kChildNames[i]))
            return i;
    }
    return CHILD_NONE;
}

void XMLCALL onStart(void* userData, const XML_Char* name, const XML_Char** attributes)
{
    auto* loader = static_cast<DefinitionLoader*>(userData);
    switch (loader->state) {
    case STATE_BEFORE_FUNCTION:
        if (isName(name, "function"))
            startFunction(loader, attributes);
        else
            skip(loader);
        break;
    case STATE_IN_FUNCTION:
        if (isName(name, "collections")) {
            loader->state = STATE_IN_COLLECTIONS;
            loader->depth = 0;
        } else {
            skip(loader);
        }
        break;
    case STATE_IN_COLLECTIONS:
        if (isName(name, "parameter"))
            startParameter(loader, attributes);
        else if (isName(name, "collection"))
            startCollection(loader, attributes);
        else
            skip(loader);
        break;
    case STATE_IN_PARAMETER: {
        const uint8_t code = childCode(name);
        if (code == CHILD_NONE) {
            skip(loader);
        } else {
            loader->parameter.child = code;
            loader->parameter.textLength = 0;
            loader->parameter.text[0] = 0;
            loader->state = STATE_IN_CHILD;
        }
        break;
    }
    case STATE_SKIPPING:
        ++loader->skipDepth;
        break;
    default: // in a child value, or after the function
        skip(loader);
        break;
    }
}

void XMLCALL onEnd(void* userData, const XML_Char* name)
{
    auto* loader = static_cast<DefinitionLoader*>(userData);
    switch (loader->state) {
    case STATE_SKIPPING:
        if (--loader->skipDepth == 0)
            loader->state = loader->savedState;
        break;
    case STATE_IN_FUNCTION:
        // The end of the function (or of an empty collections element).
        loader->state = isName(name, "function") ? STATE_DONE : STATE_IN_FUNCTION;
        break;
    case STATE_IN_COLLECTIONS:
        if (isName(name, "collection") && loader->depth > 0)
            --loader->depth;
        else if (isName(name, "collections") && loader->depth == 0)
            // Back in the function: a further "collections" adds to the same one.
            loader->state = STATE_IN_FUNCTION;
        break;
    case STATE_IN_PARAMETER:
        finishParameter(loader);
        break;
    case STATE_IN_CHILD:
        acceptChild(loader);
        loader->parameter.child = CHILD_NONE;
        loader->parameter.textLength = 0;
        loader->parameter.text[0] = 0;
        loader->state = STATE_IN_PARAMETER;
        break;
    default:
        break;
    }
}

void XMLCALL onText(void* userData, const XML_Char* text, int length)
{
    auto* loader = static_cast<DefinitionLoader*>(userData);
    if (loader->state != STATE_IN_CHILD || length <= 0)
        return;
    CollectedParameter& p = loader->parameter;
    // 255 characters and the NUL fit the buffer; the rest is cut off, and a
    // cut never ends inside a UTF-8 sequence.
    const uint32_t room = MMS_LOAD_PIECE - 1 - p.textLength;
    uint32_t n = static_cast<uint32_t>(length) < room ? static_cast<uint32_t>(length) : room;
    if (n < static_cast<uint32_t>(length)) {
        while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(p.text + p.textLength, text, n);
    p.textLength += n;
    p.text[p.textLength] = 0;
}

struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using ParserPtr = std::unique_ptr<XML_ParserStruct, ParserDeleter>;

ParserPtr makeParser(DefinitionLoader* loader)
{
    ParserPtr parser(XML_ParserCreate(nullptr));
    if (parser) {
        XML_SetUserData(parser.get(), loader);
        XML_SetElementHandler(parser.get(), onStart, onEnd);
        XML_SetCharacterDataHandler(parser.get(), onText);
    }
    return parser;
}

// One piece to the parser; 0 or the feeding's failure.
JResult feed(XML_Parser parser, DefinitionLoader* loader, const char* piece, uint32_t length, bool last)
{
    if (XML_Parse(parser, piece, static_cast<int>(length), last ? 1 : 0) == XML_STATUS_ERROR || loader->error != 0)
        return MMS_LOAD_E_PARSE;
    return 0;
}

// The mode's last step, run once feeding has begun.
JResult finish(DefinitionLoader* loader)
{
    if (loader->mode != LOAD_LAYOUT && loader->mode != LOAD_ACTIVATE)
        return 0;
    uint8_t state = 0;
    if (loader->field->getState(&state) < 0)
        return mapLibraryResult(MMS_E_STATE);
    if (state != FIELD_DEFINING)
        return 0;
    JResult r = loader->mode == LOAD_LAYOUT ? loader->field->layoutFunctions(true) : loader->field->activate(true);
    // Defaults that could not be written are a warning only.
    if (r == MMS_E_UNDEFINED)
        r = 0;
    return mapLibraryResult(r);
}

bool prepare(DefinitionLoader* loader, IField* field, const char* functionName, const char* rootKey, uint32_t mode)
{
    if (mode > LOAD_ACTIVATE)
        return false;
    loader->field = field;
    loader->mode = mode;
    copyName24(loader->rootKey, rootKey);
    copyName24(loader->functionName, functionName);
    return true;
}

// Combines the feeding's result with the final step's.
JResult conclude(DefinitionLoader* loader, JResult fed)
{
    const JResult finished = finish(loader);
    return fed < 0 ? fed : finished;
}

struct FileCloser {
    void operator()(FswFile* file) const { fsw_closeFile(file); }
};

} // namespace

JResult mms_loadDefinitionFromMemory(IField* field, const char* functionName, uint32_t functionNameLength,
    const char* rootKey, uint32_t rootKeyLength, const char* text, uint32_t textLength, uint32_t mode)
{
    (void)functionNameLength;
    if (field == nullptr || rootKey == nullptr || rootKeyLength == 0 || text == nullptr || textLength == 0)
        return MMS_LOAD_E_ARG;
    DefinitionLoader record;
    DefinitionLoader* loader = &record;
    if (!prepare(loader, field, functionName, rootKey, mode))
        return MMS_LOAD_E_ARG;
    // A NUL ends the text.
    const void* nul = std::memchr(text, 0, textLength);
    const uint32_t length = nul ? static_cast<uint32_t>(static_cast<const char*>(nul) - text) : textLength;
    loader->textBytes = length;
    ParserPtr parser = makeParser(loader);
    if (!parser)
        return MMS_LOAD_E_MEMORY;

    JResult fed = 0;
    uint32_t at = 0;
    do {
        const uint32_t rest = length - at;
        const bool last = rest <= MMS_LOAD_PIECE;
        const uint32_t piece = last ? rest : MMS_LOAD_PIECE;
        fed = feed(parser.get(), loader, text + at, piece, last);
        at += piece;
        if (last)
            break;
    } while (fed == 0);
    return conclude(loader, fed);
}

JResult mms_loadDefinitionFromFile(IField* field, const char* functionName, uint32_t functionNameLength,
    const char* rootKey, uint32_t rootKeyLength, const char* directory, uint32_t directoryLength, const char* fileName,
    uint32_t fileNameLength, uint32_t mode)
{
    (void)functionNameLength;
    if (field == nullptr || rootKey == nullptr || rootKeyLength == 0 || directory == nullptr || directoryLength == 0
        || fileName == nullptr || fileNameLength == 0)
        return MMS_LOAD_E_ARG;
    DefinitionLoader record;
    DefinitionLoader* loader = &record;
    if (!prepare(loader, field, functionName, rootKey, mode))
        return MMS_LOAD_E_ARG;

    size_t dirLength = 0, nameLength = 0;
    jlib_strLengthBounded(directory, directoryLength, &dirLength);
    jlib_strLengthBounded(fileName, fileNameLength, &nameLength);
    const size_t pathSize = size_t{directoryLength} + fileNameLength + 2;
    std::unique_ptr<char, void (*)(char*)> path(
        static_cast<char*>(mms_wrapAlloc(pathSize)), [](char* p) { mms_wrapFree(p); });
    if (!path)
        return MMS_LOAD_E_MEMORY;
    std::memcpy(path.get(), directory, dirLength);
    path.get()[dirLength] = '/';
    std::memcpy(path.get() + dirLength + 1, fileName, nameLength);
    path.get()[dirLength + 1 + nameLength] = 0;

    FswFile* opened = nullptr;
    if (fsw_openFile(&opened, path.get(), FSW_MODE_READ) < 0 || opened == nullptr)
        return MMS_LOAD_E_OPEN;
    std::unique_ptr<FswFile, FileCloser> file(opened);
    uint32_t size = 0;
    if (fsw_seekFile(0, FSW_SEEK_END, file.get()) < 0 || fsw_tellFile(&size, file.get()) < 0
        || fsw_seekFile(0, FSW_SEEK_SET, file.get()) < 0)
        return MMS_LOAD_E_PARSE;
    loader->textBytes = size;
    ParserPtr parser = makeParser(loader);
    if (!parser)
        return MMS_LOAD_E_MEMORY;

    JResult fed = 0;
    char piece[MMS_LOAD_PIECE];
    for (;;) {
        uint32_t count = 0;
        const FswResult r = fsw_readFile(piece, &count, MMS_LOAD_PIECE, file.get());
        if (r < 0) {
            fed = MMS_LOAD_E_PARSE;
            break;
        }
        if (r == FSW_END_OF_FILE)
            count = 0;
        const bool last = count < MMS_LOAD_PIECE;
        fed = feed(parser.get(), loader, piece, count, last);
        if (fed < 0 || last)
            break;
    }
    return conclude(loader, fed);
}

} // namespace MMS
