// The JSON reader: values, leniency, error messages, the cursor and the nesting limit.
#include "utility/json_reader.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <cmath>
#include <string>

namespace {

using JSON::Value;

struct Read {
    Value value;
    std::size_t consumed; // characters the cursor moved
};

Read read(const std::string& text, bool throw_on_error = true)
{
    const char* cursor = text.data();
    Value value = JSON::parse(cursor, text.data() + text.size(), throw_on_error);
    return {std::move(value), std::size_t(cursor - text.data())};
}

// The message of the ParseError that the text raises, and what was written to std::cerr.
struct Failure {
    std::string message;
    std::string error_stream;
};

Failure fail(const std::string& text, bool throw_on_error = true)
{
    Failure failure;
    testing::internal::CaptureStderr();
    try {
        read(text, throw_on_error);
        failure.message = "(no error)";
    } catch (const JSON::ParseError& error) {
        failure.message = error.what();
    }
    failure.error_stream = testing::internal::GetCapturedStderr();
    return failure;
}

TEST(JsonReader, ReadsNumbers)
{
    const struct {
        const char* text;
        double number;
        std::size_t consumed;
    } cases[] = {
        {"0", 0, 1},
        {"007", 7, 3},
        {"-0.25", -0.25, 5},
        {"0.3", 0.3, 3}, // exactly the double nearest to 0.3
        {"1.5e2", 150, 5},
        {"1.5E+2", 150, 6},
        {"25e-1", 2.5, 5},
        {"12.5 ", 12.5, 4}, // white space after a number stays
        {"3,", 3, 1},
        {"1e", 1, 2},      // an exponent without digits is 0
        {"2e+", 2, 3},
        {"-.5", -0.5, 3},
        {"4.", 4, 2},
        {"1544000000", 1544000000, 10},
        {"0.123456789012345678", 0.123456789012345678, 20},
        {"1e-400", 0, 6},
        {"0e400", 0, 5},   // zero stays zero however large the exponent
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        const Read result = read(c.text);
        testing::internal::GetCapturedStderr();
        ASSERT_EQ(result.value.kind(), Value::Number) << c.text;
        EXPECT_EQ(result.value.get_number(), c.number) << c.text;
        EXPECT_EQ(result.consumed, c.consumed) << c.text;
    }

    const Read minus = read("-");
    EXPECT_EQ(minus.value.get_number(), 0.0);
    EXPECT_TRUE(std::signbit(minus.value.get_number()));
}

TEST(JsonReader, WarnsOfExponentOverflowAndReadsOn)
{
    testing::internal::CaptureStderr();
    const Read result = read("[1e400, -2e309, 3]");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Exponent overflow: 400\nExponent overflow: 309\n");
    ASSERT_EQ(result.value.length(), 3u);
    EXPECT_EQ(result.value[L"0"].get_number(), HUGE_VAL);
    EXPECT_EQ(result.value[L"1"].get_number(), -HUGE_VAL);
    EXPECT_EQ(result.value[L"2"].get_number(), 3.0);
}

TEST(JsonReader, ReadsStringsAndEscapes)
{
    const struct {
        const char* text;
        std::wstring string;
    } cases[] = {
        {R"("\u00e9\q")", L"\u00e9q"},
        {R"("a\"b\\c\/d\'e")", L"a\"b\\c/d'e"},
        {R"("\b\f\n\r\t")", L"\b\f\n\r\t"},
        {R"("\u20AC\u20ac")", L"\u20ac\u20ac"},
        {R"("\ud83d\ude00")", L"\U0001F600"},        // a surrogate pair is one character
        {R"("\ud83d\u0041")", L"\xd83d" L"A"},       // a lone surrogate stays as it is
        {R"("\ude00\ud83d")", L"\xde00\xd83d"},
        {"\"tab\there\"", L"tab\there"},             // control characters as they are
        {"\"caf\xe9\"", L"caf\u00e9"},               // narrow bytes are U+0000..U+00FF
        {"\"\xc3\xa9\"", L"\u00c3\u00a9"},           // no UTF-8 decoding
        {"\"\"", L""},
    };
    for (const auto& c : cases) {
        const Read result = read(c.text);
        ASSERT_EQ(result.value.kind(), Value::String) << c.text;
        EXPECT_EQ(result.value.get_string(), c.string) << c.text;
    }

    // A backslash as the last character stands for itself, and the closing quote is missing.
    EXPECT_EQ(fail("\"ab\\").message, "JSON expected \"");
}

TEST(JsonReader, ReadsWideInput)
{
    const std::wstring text = L"{ \"caf\u00e9\": [\"\U0001F600\", 1.5] }";
    auto cursor = text.cbegin();
    const Value value = JSON::parse(cursor, text.cend(), true);
    EXPECT_EQ(cursor, text.cend());
    EXPECT_EQ(value[L"caf\u00e9"][L"0"].get_string(), L"\U0001F600");
    EXPECT_EQ(value[L"caf\u00e9"][L"1"].get_number(), 1.5);

    const wchar_t* begin = text.c_str();
    const wchar_t* wide_cursor = begin;
    EXPECT_TRUE(JSON::parse(wide_cursor, begin + text.size(), true).equal(value));
}

TEST(JsonReader, IsLenient)
{
    const struct {
        const char* text;
        const char* written; // the value read, written compactly
    } cases[] = {
        {R"({ "a": 1 "b": 2, })", R"({ "a": 1, "b": 2 })"}, // optional and trailing commas
        {"[1, 2,]", "[ 1, 2 ]"},
        {"[1 2 3]", "[ 1, 2, 3 ]"},
        {R"({"a": 1, "a": 2})", R"({ "a": 1 })"}, // the first of equal keys stays
        {"[]", "[]"},
        {"{ }", "{}"},
        {"[null, true, false]", "[ null, true, false ]"},
        {"\t\n\v\f\r [ 1 ]", "[ 1 ]"},
        {R"({"z": {"y": [{}]}, "a": "x"})", R"({ "a": "x", "z": { "y": [ {} ] } })"},
    };
    for (const auto& c : cases) {
        const Read result = read(c.text);
        EXPECT_EQ(result.value.asciify(0, 0), c.written) << c.text;
    }
}

TEST(JsonReader, ReadsLiteralsByTheirLetters)
{
    const struct {
        const char* text;
        Value::Kind kind;
        std::size_t consumed;
    } cases[] = {
        {"null", Value::Null, 4},
        {"nullx", Value::Null, 4}, // what follows is left for the caller
        {"true", Value::True, 4},
        {"trueish", Value::True, 4},
        {"false", Value::False, 5},
        {"  false ", Value::False, 7},
    };
    for (const auto& c : cases) {
        const Read result = read(c.text);
        EXPECT_EQ(result.value.kind(), c.kind) << c.text;
        EXPECT_EQ(result.consumed, c.consumed) << c.text;
    }
    EXPECT_EQ(fail("[nullx]").message, "JSON value expected, could not parse x");
    EXPECT_EQ(fail("nul").message, "JSON value expected, could not parse nul");
}

TEST(JsonReader, LeavesTheCursorAfterTheValue)
{
    const struct {
        const char* text;
        std::size_t consumed;
    } cases[] = {
        {"", 0},
        {"   \n ", 5},        // blank: null, cursor at the end
        {"\"a\"  x", 5},      // white space after a string is eaten
        {"[1]  x", 5},        // and after a container
        {"{}\n\nx", 4},
        {"  42  x", 4},       // but not after a number
        {"true  x", 4},       // nor after a literal
        {"[1] [2]", 4},       // one value only
    };
    for (const auto& c : cases)
        EXPECT_EQ(read(c.text).consumed, c.consumed) << testing::PrintToString(std::string(c.text));

    // A character that cannot start a value, with throw_on_error off: null, cursor on it.
    const Read lenient = read("  xyz", false);
    EXPECT_EQ(lenient.value.kind(), Value::Null);
    EXPECT_EQ(lenient.consumed, 2u);
}

TEST(JsonReader, ReportsDamage)
{
    const struct {
        const char* text;
        bool throw_on_error;
        const char* message;
        int times_written; // once for each value the error passed
    } cases[] = {
        {"xyz", true, "JSON value expected, could not parse xyz", 1},
        {"xyz abc", true, "JSON value expected, could not parse xyz", 1},
        {"x,y", true, "JSON value expected, could not parse x", 1},
        {"[1, x]", false, "JSON value expected, could not parse x", 2},
        {"[[[x]]]", false, "JSON value expected, could not parse x", 4},
        {"[1, +1]", true, "JSON value expected, could not parse +1", 2},
        {"[1", true, "JSON expected ]", 1},
        {"[1,", false, "JSON expected ]", 1},
        {"{", true, "JSON expected }", 1},
        {R"({"a": 1)", true, "JSON expected }", 1},
        {R"({"a" 1})", true, "JSON expected :", 1},
        {"{a: 1}", true, "JSON expected \"", 1},
        {"{1: 1}", true, "JSON expected \"", 1},
        {R"({"a": 1, ,})", true, "JSON expected \"", 1},
        {R"(["abc)", true, "JSON expected \"", 2},
        {R"("\u12)", true, "Unicode escape sequence clipped at end of input", 1},
        {R"("\u12g4")", true, "Invalid char in Unicode escape sequence: g", 1},
        {R"(["\uXYZW"])", false, "Invalid char in Unicode escape sequence: X", 2},
    };
    for (const auto& c : cases) {
        const Failure failure = fail(c.text, c.throw_on_error);
        EXPECT_EQ(failure.message, c.message) << c.text;
        std::string written;
        for (int i = 0; i < c.times_written; ++i)
            written += std::string(c.message) + "\n";
        EXPECT_EQ(failure.error_stream, written) << c.text;
    }
}

TEST(JsonReader, QuotesALongOffendingTextShortened)
{
    const std::string garbage(5000, 'x');
    const Failure failure = fail("[" + garbage + "]");
    EXPECT_EQ(failure.message, "JSON value expected, could not parse " + std::string(100, 'x') + "...");
}

TEST(JsonReader, BlankInputIsNull)
{
    for (const char* text : {"", " ", "\n\t  \r"}) {
        const Failure failure = fail(text);
        EXPECT_EQ(failure.message, "(no error)");
        EXPECT_EQ(failure.error_stream, "");
        EXPECT_EQ(read(text).value.kind(), Value::Null);
    }
}

std::string nested(int levels, char open, char close)
{
    return std::string(std::size_t(levels), open) + std::string(std::size_t(levels), close);
}

std::string nested_objects(int levels)
{
    std::string text;
    for (int i = 0; i < levels; ++i)
        text += "{\"a\":";
    text += "1";
    text += std::string(std::size_t(levels), '}');
    return text;
}

TEST(JsonReader, RefusesNestingBeyondTheLimit)
{
    EXPECT_EQ(JSON::MAX_NESTING, 512);

    const Read deepest = read(nested(512, '[', ']'));
    EXPECT_EQ(deepest.value.kind(), Value::Array);
    EXPECT_EQ(deepest.consumed, 1024u);
    EXPECT_EQ(read(nested_objects(512)).value.kind(), Value::Object);

    for (const std::string& text : {nested(513, '[', ']'), nested_objects(513), std::string(200000, '[')}) {
        const Failure failure = fail(text, false);
        EXPECT_EQ(failure.message, "JSON nested deeper than 512 levels") << text.substr(0, 20);
    }
}

// The deepest input allowed fits the stack of an ordinary thread: a state chunk is restored on
// whatever thread the host chose. An optimised build needs about 160 KB, a sanitizer build
// about 500 KB; 1 MB leaves room.
TEST(JsonReader, DeepestNestingFitsAOneMegabyteStack)
{
    struct Job {
        static void* run(void* argument)
        {
            auto* kinds = static_cast<Value::Kind*>(argument);
            kinds[0] = read(nested(JSON::MAX_NESTING, '[', ']')).value.kind();
            kinds[1] = read(nested_objects(JSON::MAX_NESTING)).value.kind();
            return nullptr;
        }
    };
    Value::Kind kinds[2] = {Value::Null, Value::Null};
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 1024 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, &Job::run, kinds), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(kinds[0], Value::Array);
    EXPECT_EQ(kinds[1], Value::Object);
}

TEST(JsonReader, ReadsWhatTheWriterWrote)
{
    Value state;
    state.get_object()[L"apply.changetime"] = 1;
    Value& patch = state[L"patch.12"];
    patch.get_object()[L"soundfile"] = L"/sounds/caf\u00e9 \"quoted\" \U0001F600\t.wav";
    patch[L"grain.rate"] = 0.3;
    patch[L"sound.end"] = -1;
    patch[L"flags"] = JSON::Deque{Value(Value::True), Value(Value::False), Value(), Value(JSON::Map{})};
    for (int point = 0; point < 5; ++point) {
        Value& member = patch[L"adsr1.points"][std::to_wstring(point)];
        member.get_object()[L"delta"] = 12.5 * point;
        member[L"level"] = 0.125;
    }

    for (const auto& [indent, depth] : {std::pair{2, 4ul}, {0, 0ul}, {1, 10ul}}) {
        const std::string text = state.asciify(indent, depth);
        const Read result = read(text);
        EXPECT_EQ(result.consumed, text.size());
        EXPECT_TRUE(result.value.equal(state)) << text;
        EXPECT_EQ(result.value.asciify(indent, depth), text);
    }
}

} // namespace
