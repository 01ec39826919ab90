// The XML layout loader: a table of layout files (checked against the
// schema with xmllint as well), the value rules of the child elements, the
// limits of the text, the modes and the file form.

#include "mms/mms_loader.h"

#include "mms/mms_field.h"
#include "pbd/jlib/jvariant.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace MMS;
using JLIB::JVariant;

namespace {

const char kKey[] = "dev";

std::string layoutPath(const std::string& name)
{
    return qtest::sourcePath("tests/mms/layouts/" + name);
}

JResult loadText(IField* field, const std::string& text, uint32_t mode = LOAD_ACTIVATE, const char* key = kKey,
    const char* name = nullptr)
{
    return mms_loadDefinitionFromMemory(field, name, name ? static_cast<uint32_t>(strlen(name) + 1) : 0, key,
        static_cast<uint32_t>(strlen(key) + 1), text.data(), static_cast<uint32_t>(text.size()), mode);
}

JResult loadFile(IField* field, const std::string& file, uint32_t mode = LOAD_ACTIVATE)
{
    const std::string text = qtest::readFile(layoutPath(file));
    EXPECT_FALSE(text.empty()) << file;
    return loadText(field, text, mode);
}

bool hasPath(IField* field, const char* path, const char* function = kKey)
{
    uint32_t tags[MMS_MAX_DEPTH], count = 0;
    return field->resolveNamePath(tags, &count, MMS_MAX_DEPTH, function, path, static_cast<uint32_t>(strlen(path)))
        >= 0;
}

uint32_t parameterCount(IField* field)
{
    uint32_t n = 0;
    EXPECT_EQ(0, field->getParameterCount(&n, kKey));
    return n;
}

template <typename Getter> JResult attributeOf(IField* field, Getter getter, const char* path, JVariant* out)
{
    return (field->*getter)(out, kKey, path, static_cast<uint32_t>(strlen(path)));
}

JResult minimumOf(IField* f, const char* p, JVariant* v)
{
    return attributeOf(f, &IField::getMinimumByName, p, v);
}
JResult maximumOf(IField* f, const char* p, JVariant* v)
{
    return attributeOf(f, &IField::getMaximumByName, p, v);
}
JResult defaultOf(IField* f, const char* p, JVariant* v)
{
    return attributeOf(f, &IField::getDefaultByName, p, v);
}
JResult stepOf(IField* f, const char* p, JVariant* v)
{
    return attributeOf(f, &IField::getStepByName, p, v);
}
JResult nominalOf(IField* f, const char* p, JVariant* v)
{
    return attributeOf(f, &IField::getNominalByName, p, v);
}

int32_t asInt(const JVariant& v)
{
    return static_cast<int32_t>(v.toInteger());
}

std::string layoutWith(const std::string& attributes, const std::string& body)
{
    return "<function name=\"F\"" + attributes + "><collections>" + body + "</collections></function>";
}

} // namespace

// Each fixture: whether the schema accepts it, what the loader answers, and
// which parameters the function ends up with.
TEST(LayoutLoader, FixtureTable)
{
    struct Case {
        const char* file;
        bool schemaValid;
        JResult result;
        uint32_t parameters;
        std::vector<const char*> present;
        std::vector<const char*> absent;
    };
    const Case cases[] = {
        {"devstate.xml", true, 0, 7,
            {"devstate/ConnectionState", "devstate/Gain", "devstate/Label", "devstate/Trim", "ch/Mute", "ch/Level",
                "ch/Pan"},
            {}},
        {"nested4.xml", true, 0, 2, {"top", "a/b/c/d/leaf"}, {}},
        {"names.xml", true, 0, 2, {"x", "abcdefghijklmnopqrstuvw"}, {}},
        // Skipped by the loader's own rules: the load still succeeds.
        {"nested5.xml", false, 0, 2, {"kept", "a/b/c/d/deepest"}, {"a/b/c/d/e"}},
        {"longname.xml", false, 0, 1, {"kept"}, {"abcdefghijklmnopqrstuvwx", "a"}},
        {"badtype.xml", false, 0, 1, {"kept"}, {"wrong", "untyped"}},
        {"unknown.xml", false, 0, 1, {"kept"}, {"hidden", "w"}},
        {"badnumber.xml", false, 0, 2, {"u", "f"}, {}},
        {"repeated.xml", false, 0, 1, {"p"}, {}},
        // Refused by the field (a duplicate name, a bad limit, an item past
        // the stated counts): that item is left out and the load goes on.
        {"duplicate.xml", false, 0, 1, {"same"}, {}},
        {"fewcounts.xml", true, 0, 1, {"one"}, {"two"}},
        {"refused.xml", false, 0, 3, {"c/a", "bad", "after"}, {"c/b"}},
        {"malformed.xml", false, MMS_LOAD_E_PARSE, 0, {}, {"p"}},
    };
    const std::string schema = qtest::sourcePath("tests/mms/layout.xsd");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const int status = qtest::runCommand(
            "xmllint --noout --schema '" + schema + "' '" + layoutPath(c.file) + "' >/dev/null 2>&1");
        EXPECT_EQ(c.schemaValid, status == 0);

        Base field(nullptr);
        EXPECT_EQ(c.result, loadFile(&field, c.file));
        if (c.parameters == 0)
            continue; // nothing to lay out
        uint8_t state = 0;
        field.getState(&state);
        EXPECT_EQ(FIELD_ACTIVE, state); // the final step runs even after a failure
        EXPECT_EQ(c.parameters, parameterCount(&field));
        for (const char* path : c.present)
            EXPECT_TRUE(hasPath(&field, path)) << path;
        for (const char* path : c.absent)
            EXPECT_FALSE(hasPath(&field, path)) << path;
    }
}

TEST(LayoutLoader, ChildValuesFollowTheirTypes)
{
    Base field(nullptr);
    ASSERT_EQ(0, loadFile(&field, "devstate.xml"));
    JVariant v;

    ASSERT_EQ(0, minimumOf(&field, "devstate/ConnectionState", &v));
    EXPECT_EQ(0, asInt(v));
    ASSERT_EQ(0, maximumOf(&field, "devstate/ConnectionState", &v));
    EXPECT_EQ(3, asInt(v));

    // A value written on its own lines reads like one written inline.
    ASSERT_EQ(0, maximumOf(&field, "devstate/Gain", &v));
    EXPECT_EQ(12, asInt(v));
    ASSERT_EQ(0, minimumOf(&field, "devstate/Gain", &v));
    EXPECT_EQ(-90, asInt(v));
    ASSERT_EQ(0, stepOf(&field, "devstate/Gain", &v));
    EXPECT_EQ(2, asInt(v));
    ParameterAttributes a;
    ASSERT_EQ(0, field.getAttributesByName(&a, kKey, "devstate/Gain", 13));
    EXPECT_EQ(uint32_t{PARAM_INT16}, a.type);
    EXPECT_STREQ("dB", a.unit);
    EXPECT_EQ(10u, a.scaling);
    EXPECT_EQ(3u, a.kind);
    uint32_t size = 0;
    ASSERT_EQ(0, field.getArraySizeByName(&size, kKey, "devstate/Gain", 13));
    EXPECT_EQ(4u, size);

    // Activation wrote the defaults.
    const uint32_t index[] = {0, 2};
    ASSERT_GE(field.getValueByName(&v, nullptr, kKey, "devstate/Gain", 13, index, 2, false, 0), 0);
    EXPECT_EQ(-6, asInt(v));

    // A string: maximum 32 is its size, the default "0" is a text.
    ASSERT_EQ(0, field.getElementSizeByName(&size, kKey, "devstate/Label", 14));
    EXPECT_EQ(32u, size);
    ASSERT_EQ(0, defaultOf(&field, "devstate/Label", &v));
    EXPECT_STREQ("0", v.getString());
    ASSERT_EQ(0, nominalOf(&field, "devstate/Label", &v));
    EXPECT_STREQ("Main out", v.getString());

    ASSERT_EQ(0, maximumOf(&field, "devstate/Trim", &v));
    EXPECT_FLOAT_EQ(1.5f, v.toFloat());
    EXPECT_EQ(MMS_E_UNDEFINED, minimumOf(&field, "ch/Pan", &v));

    // The element's own name stays when the caller gives none.
    char name[MMS_NAME_SIZE] = {};
    ASSERT_EQ(0, field.getFunctionName(name, kKey));
    EXPECT_STREQ("DevState", name);
}

TEST(LayoutLoader, BadValuesAreDroppedAndTheFirstOneCounts)
{
    Base field(nullptr);
    ASSERT_EQ(0, loadFile(&field, "badnumber.xml"));
    JVariant v;
    EXPECT_EQ(MMS_E_UNDEFINED, minimumOf(&field, "u", &v)); // -1 in an unsigned type
    EXPECT_EQ(MMS_E_UNDEFINED, maximumOf(&field, "u", &v)); // not a number
    ASSERT_EQ(0, defaultOf(&field, "u", &v));
    EXPECT_EQ(2, asInt(v));
    uint32_t scaling = 0;
    ASSERT_EQ(0, field.getScalingByName(&scaling, kKey, "u", 1));
    EXPECT_EQ(1u, scaling); // a negative scaling is dropped
    EXPECT_EQ(MMS_E_UNDEFINED, minimumOf(&field, "f", &v)); // an integer for a real type
    EXPECT_EQ(MMS_E_UNDEFINED, stepOf(&field, "f", &v)); // a negative step

    Base repeated(nullptr);
    ASSERT_EQ(0, loadFile(&repeated, "repeated.xml"));
    ASSERT_EQ(0, minimumOf(&repeated, "p", &v));
    EXPECT_EQ(-5, asInt(v));

    Base names(nullptr);
    ASSERT_EQ(0, loadFile(&names, "names.xml"));
    char name[MMS_NAME_SIZE] = {};
    ASSERT_EQ(0, names.getFunctionName(name, kKey));
    EXPECT_STREQ("Names", name); // spaces and the tab around are not part of it
}

// Plain decimal integers are read on a short path; the texts around its
// edges (a leading zero is octal, a sign is not, ten digits and suffixes go
// to the number parser) must read exactly as the number parser reads them.
TEST(LayoutLoader, NumberTextsAroundThePlainIntegerPath)
{
    struct Case {
        const char* text;
        const char* type;
        bool kept;
        int64_t value;
    };
    const Case cases[] = {
        {"0", "uint32_t", true, 0},
        {"-0", "int32_t", true, 0},
        {"00", "uint32_t", true, 0},
        {"010", "uint32_t", true, 8}, // octal
        {"-010", "int32_t", true, -10}, // signed: decimal
        {"-5", "uint32_t", false, 0}, // signed text for an unsigned type
        {"123456789", "uint32_t", true, 123456789},
        {"4294967295", "uint32_t", true, 4294967295},
        {"-2147483648", "int32_t", true, INT32_MIN},
        {"-2147483649", "int32_t", false, 0},
        {"+5", "uint32_t", true, 5},
        {"5u", "uint32_t", true, 5},
        {"1.5", "int32_t", false, 0},
        {"1-2", "int32_t", false, 0},
        {"-", "int32_t", false, 0},
        {"\n 42\t", "int32_t", true, 42},
    };
    std::string body;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        body += "<parameter name=\"p" + std::to_string(i) + "\" type=\"" + cases[i].type + "\"><minimum>"
            + cases[i].text + "</minimum></parameter>";
    }
    Base field(nullptr);
    ASSERT_EQ(0, loadText(&field, layoutWith("", body)));
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.text);
        const std::string path = "p" + std::to_string(i);
        JVariant v;
        const JResult r = minimumOf(&field, path.c_str(), &v);
        ASSERT_EQ(c.kept ? 0 : MMS_E_UNDEFINED, r);
        if (!c.kept)
            continue;
        // Signed values come back as int32 words, unsigned ones as uint32.
        const int64_t got = c.value < 0 ? int64_t{asInt(v)} : int64_t{v.toInteger()};
        EXPECT_EQ(c.value, got);
    }
}

TEST(LayoutLoader, AttributesAreFoundByTheirWholeName)
{
    // Any order; names that only begin like the ones read are not them.
    const std::string body = "<collection arraysizes=\"7\" names=\"x\" arraysize=\"3\" name=\"c\">"
                             "<parameter typed=\"float\" type=\"uint8_t\" nameless=\"y\" name=\"p\" arraysize=\"2\"/>"
                             "</collection><parameter type=\"uint8_t\" n=\"q\"/>";
    Base field(nullptr);
    ASSERT_EQ(0, loadText(&field, layoutWith(" parametersx=\"0\" name2=\"G\"", body)));
    uint32_t size = 0;
    ASSERT_EQ(0, field.getArraySizeByName(&size, kKey, "c", 1));
    EXPECT_EQ(3u, size);
    ASSERT_EQ(0, field.getArraySizeByName(&size, kKey, "c/p", 3));
    EXPECT_EQ(2u, size);
    ParameterAttributes a;
    ASSERT_EQ(0, field.getAttributesByName(&a, kKey, "c/p", 3));
    EXPECT_EQ(uint32_t{PARAM_UINT8}, a.type);
    EXPECT_EQ(1u, parameterCount(&field)); // "q" has no name attribute
    char name[MMS_NAME_SIZE] = {};
    ASSERT_EQ(0, field.getFunctionName(name, kKey));
    EXPECT_STREQ("F", name);
}

TEST(LayoutLoader, TextLimits)
{
    // A unit of 30 characters keeps 23; a child value keeps 255 bytes, and
    // a cut never splits a UTF-8 sequence.
    const std::string unit30(30, 'u');
    const std::string text300(300, 't');
    const std::string utf8 = std::string(254, 'a') + "\xC3\xA9" + "bbbb";
    const std::string unitCutInside = std::string(22, 'x') + "\xC2\xB5"; // 24 bytes, the cut would split "µ"
    const std::string body = "<parameter name=\"p\" type=\"uint8_t\"><unit>" + unit30 + "</unit></parameter>"
        + "<parameter name=\"m\" type=\"uint8_t\"><unit>" + unitCutInside + "</unit></parameter>"
        + "<parameter name=\"s\" type=\"string\"><maximum>400</maximum><default>" + text300 + "</default><nominal>"
        + utf8 + "</nominal></parameter>";
    Base field(nullptr);
    ASSERT_EQ(0, loadText(&field, layoutWith(" stringsize=\"1000\"", body)));
    char unit[MMS_NAME_SIZE] = {};
    ASSERT_EQ(0, field.getUnitByName(unit, kKey, "p", 1));
    EXPECT_EQ(std::string(23, 'u'), unit);
    ASSERT_EQ(0, field.getUnitByName(unit, kKey, "m", 1));
    EXPECT_EQ(std::string(22, 'x'), unit);
    JVariant v;
    ASSERT_EQ(0, defaultOf(&field, "s", &v));
    EXPECT_EQ(std::string(255, 't'), v.getString());
    ASSERT_EQ(0, nominalOf(&field, "s", &v));
    EXPECT_EQ(std::string(254, 'a'), v.getString());

    // A NUL ends the text before its stated length, and the parse is final there.
    std::string withNul = layoutWith("", "<parameter name=\"q\" type=\"uint8_t\"/>");
    withNul += std::string(1, '\0') + "<garbage";
    Base early(nullptr);
    EXPECT_EQ(0, loadText(&early, withNul));
    EXPECT_TRUE(hasPath(&early, "q"));
}

TEST(LayoutLoader, FunctionAttributes)
{
    const std::string two = "<collection name=\"c\" arraysize=\"0\"><parameter name=\"p\" type=\"bit\"/></collection>";
    // Counts that are not numbers count as 0: every node is made on its own.
    Base field(nullptr);
    ASSERT_EQ(0, loadText(&field, layoutWith(" collections=\"many\" parameters=\"-2\"", two)));
    uint32_t size = 0;
    ASSERT_EQ(0, field.getArraySizeByName(&size, kKey, "c", 1));
    EXPECT_EQ(1u, size); // arraysize 0 gives 1

    // Counts the text can't hold are refused before anything is allocated.
    Base huge(nullptr);
    EXPECT_EQ(MMS_LOAD_E_PARSE, loadText(&huge, layoutWith(" parameters=\"4000000000\"", two)));
    uint32_t functions = 9;
    huge.getFunctionCount(&functions);
    EXPECT_EQ(0u, functions);

    const std::string cases[] = {
        "<function><collections/></function>", // no name
        "<function name=\"a b\"><collections/></function>",
    };
    for (const std::string& text : cases) {
        Base bad(nullptr);
        EXPECT_EQ(MMS_LOAD_E_PARSE, loadText(&bad, text)) << text;
    }
}

TEST(LayoutLoader, ANestedFunctionElementIsSkipped)
{
    // After its collections the function stays the current one: a function
    // element inside it is skipped rather than defined over it.
    const std::string text = "<function name=\"A\"><collections><parameter name=\"a\" type=\"uint8_t\"/></collections>"
                             "<function name=\"B\"><collections><parameter name=\"b\" type=\"uint8_t\"/>"
                             "</collections></function>"
                             "<collections><parameter name=\"c\" type=\"uint8_t\"/></collections></function>";
    Base field(nullptr);
    ASSERT_EQ(0, loadText(&field, text));
    uint32_t functions = 0;
    field.getFunctionCount(&functions);
    EXPECT_EQ(1u, functions);
    EXPECT_TRUE(hasPath(&field, "a"));
    EXPECT_FALSE(hasPath(&field, "b"));
    EXPECT_TRUE(hasPath(&field, "c")); // a further collections element adds to it
}

TEST(LayoutLoader, ModesAndSeveralFunctions)
{
    const std::string one = layoutWith("", "<parameter name=\"p\" type=\"uint8_t\"><default>4</default></parameter>");
    Base field(nullptr);
    uint8_t state = 0;

    // Mode 0 defines into a field that is already being defined.
    EXPECT_EQ(MMS_LOAD_E_PARSE, loadText(&field, one, LOAD_DEFINE));
    ASSERT_EQ(0, field.reopenDefinition());
    ASSERT_EQ(0, loadText(&field, one, LOAD_DEFINE, "first"));
    field.getFunctionState(&state, "first");
    EXPECT_EQ(ROOT_DEFINING, state);

    ASSERT_EQ(0, loadText(&field, one, LOAD_LAYOUT, "second"));
    field.getFunctionState(&state, "second");
    EXPECT_EQ(ROOT_LAID_OUT, state);
    field.getState(&state);
    EXPECT_EQ(FIELD_DEFINING, state);

    ASSERT_EQ(0, loadText(&field, one, LOAD_ACTIVATE, "third", "Named"));
    field.getState(&state);
    EXPECT_EQ(FIELD_ACTIVE, state);
    for (const char* key : {"first", "second", "third"}) {
        field.getFunctionState(&state, key);
        EXPECT_EQ(ROOT_ACTIVE, state) << key;
    }
    char name[MMS_NAME_SIZE] = {};
    ASSERT_EQ(0, field.getFunctionName(name, "third"));
    EXPECT_STREQ("Named", name);
}

TEST(LayoutLoader, ArgumentsAndFiles)
{
    Base field(nullptr);
    const char text[] = "<function name=\"F\"><collections/></function>";
    EXPECT_EQ(MMS_LOAD_E_ARG, mms_loadDefinitionFromMemory(nullptr, nullptr, 0, kKey, 4, text, 10, 3));
    EXPECT_EQ(MMS_LOAD_E_ARG, mms_loadDefinitionFromMemory(&field, nullptr, 0, nullptr, 4, text, 10, 3));
    EXPECT_EQ(MMS_LOAD_E_ARG, mms_loadDefinitionFromMemory(&field, nullptr, 0, kKey, 0, text, 10, 3));
    EXPECT_EQ(MMS_LOAD_E_ARG, mms_loadDefinitionFromMemory(&field, nullptr, 0, kKey, 4, nullptr, 10, 3));
    EXPECT_EQ(MMS_LOAD_E_ARG, mms_loadDefinitionFromMemory(&field, nullptr, 0, kKey, 4, text, 0, 3));

    const std::string dir = qtest::sourcePath("tests/mms/layouts");
    const char file[] = "nested4.xml";
    EXPECT_EQ(0,
        mms_loadDefinitionFromFile(&field, nullptr, 0, kKey, 4, dir.c_str(), static_cast<uint32_t>(dir.size() + 1),
            file, sizeof file, LOAD_ACTIVATE));
    EXPECT_TRUE(hasPath(&field, "a/b/c/d/leaf"));
    EXPECT_EQ(MMS_LOAD_E_OPEN,
        mms_loadDefinitionFromFile(&field, nullptr, 0, "other", 6, dir.c_str(), static_cast<uint32_t>(dir.size() + 1),
            "absent.xml", 11, LOAD_ACTIVATE));
    EXPECT_EQ(MMS_LOAD_E_ARG,
        mms_loadDefinitionFromFile(&field, nullptr, 0, kKey, 4, dir.c_str(), 0, file, sizeof file, LOAD_ACTIVATE));

    // A file whose size is a whole number of pieces ends with an empty last piece.
    qtest::TempDir temp;
    std::string exact = layoutWith("", "<parameter name=\"p\" type=\"uint8_t\"/>");
    exact.insert(exact.size() - 11, std::string(512 - exact.size(), ' '));
    ASSERT_EQ(512u, exact.size());
    ASSERT_TRUE(qtest::writeFile(temp.file("exact.xml"), exact));
    Base other(nullptr);
    EXPECT_EQ(0,
        mms_loadDefinitionFromFile(&other, nullptr, 0, kKey, 4, temp.path().c_str(),
            static_cast<uint32_t>(temp.path().size() + 1), "exact.xml", 10, LOAD_ACTIVATE));
    EXPECT_TRUE(hasPath(&other, "p"));
}
