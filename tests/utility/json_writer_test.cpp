// The JSON writer: numbers, escapes and the saved-state layout.
#include "utility/json_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using JSON::Value;

TEST(JsonWriter, WritesNumbers)
{
    const struct {
        double number;
        const wchar_t* text;
    } cases[] = {
        // Below 1 in magnitude: six significant digits.
        {0.5, L"0.5"},
        {0.123456789, L"0.123457"},
        {0.00001, L"1e-05"},
        {1e-9, L"1e-09"},
        {0.0, L"0"},
        {-0.25, L"-0.25"},
        {0.9999999, L"1"},
        // From 1 up: integer part and at most six decimals, no trailing zeros.
        {3.0, L"3"},
        {1.5, L"1.5"},
        {-2.25, L"-2.25"},
        {2.5, L"2.5"},
        {100.0000001, L"100"},
        {2.9999996, L"3"},
        {-1.0000001, L"-1"},
        {-1.9999999, L"-2"},
        {12.000001, L"12.000001"},
        {1544000000.0, L"1544000000"},
        {-48000.125, L"-48000.125"},
        // Beyond the range of a 64-bit integer: still every digit.
        {1e20, L"100000000000000000000"},
        // No JSON text exists for these; null reads back as "no value".
        {std::numeric_limits<double>::infinity(), L"null"},
        {std::nan(""), L"null"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Value(c.number).stringify(2, 0, 4), c.text) << "number " << c.number;
}

TEST(JsonWriter, EscapesStrings)
{
    const struct {
        std::wstring text;
        const wchar_t* written;
    } cases[] = {
        {L"a\"\u00e9", L"\"a\\\"\\u00e9\""}, // eleven characters
        {L"\b\t\n\f\r", L"\"\\b\\t\\n\\f\\r\""},
        {L"a/b\\c", L"\"a\\/b\\\\c\""},
        {std::wstring(1, wchar_t(1)) + L"\x7f", L"\"\x01\x7f\""}, // other control characters as they are
        {L"\x80\xff\u20ac", L"\"\\u0080\\u00ff\\u20ac\""},
        {L"\U0001F600", L"\"\\ud83d\\ude00\""}, // above U+FFFF: a surrogate pair
        {std::wstring(1, wchar_t(0x110000)), L"\"\\ufffd\""},
        {std::wstring(1, wchar_t(-5)), L"\"\\ufffd\""},
        {L"", L"\"\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Value(c.text).stringify(2, 0, 4), c.written);
    EXPECT_EQ(std::wstring(L"\"a\\\"\\u00e9\"").size(), 11u);
}

TEST(JsonWriter, WritesLiteralsAndEmptyContainers)
{
    EXPECT_EQ(Value().stringify(2, 0, 4), L"null");
    EXPECT_EQ(Value(Value::True).stringify(2, 0, 4), L"true");
    EXPECT_EQ(Value(Value::False).stringify(2, 0, 4), L"false");
    for (int level : {0, 1, 5}) {
        EXPECT_EQ(Value(Value::Object).stringify(2, level, 4), L"{}");
        EXPECT_EQ(Value(Value::Array).stringify(2, level, 4), L"[]");
        EXPECT_EQ(Value(Value::Object).stringify(0, level, 4), L"{}");
    }
}

// The saved state: indent 2, expand depth 4. Three levels of containers are written one member
// per line, the fourth on one line.
TEST(JsonWriter, LaysOutSavedState)
{
    Value state;
    state.get_object()[L"apply.changetime"] = 1;
    Value& patch = state[L"patch.0"];
    patch.get_object()[L"grain.rate"] = 20;
    patch[L"timestamp"] = 1544000000;
    Value& points = patch[L"adsr1.points"];
    for (const wchar_t* index : {L"0", L"1"}) {
        Value& point = points[index];
        point.get_object()[L"curve"] = 0;
        point[L"delta"] = index[0] == L'0' ? 0.0 : 12.5;
        point[L"level"] = index[0] == L'0' ? 0 : 1;
    }
    Value& controller = patch[L"grain.rate.controller.0"];
    controller.get_object()[L"type"] = L"random";
    controller[L"amount"] = 0.5;
    controller[L"walk"] = 0.1;
    controller[L"spread"] = 0.2;

    const char* expected = R"({
  "apply.changetime": 1,
  "patch.0": {
    "adsr1.points": [
      { "curve": 0, "delta": 0, "level": 0 },
      { "curve": 0, "delta": 12.5, "level": 1 }
    ],
    "grain.rate": 20,
    "grain.rate.controller.0": {
      "amount": 0.5,
      "spread": 0.2,
      "type": "random",
      "walk": 0.1
    },
    "timestamp": 1544000000
  }
})";
    EXPECT_EQ(state.asciify(2, 4), expected);
}

TEST(JsonWriter, ExpandsEmptyMembersOfAnExpandedObject)
{
    Value object;
    object.get_object()[L"a"] = Value(Value::Object);
    object[L"b"] = Value(Value::Array);
    EXPECT_EQ(object.stringify(2, 1, 4), L"{\n    \"a\": {},\n    \"b\": []\n  }");
    EXPECT_EQ(object.stringify(2, 0, 4), L"{\n  \"a\": {},\n  \"b\": []\n}");
}

TEST(JsonWriter, ChoosesFormByIndentAndDepth)
{
    Value inner;
    inner.get_array().push_back(1);
    inner.get_array().push_back(L"x");
    Value outer;
    outer.get_array().push_back(inner);

    const struct {
        int indent;
        int level;
        unsigned long expand_depth;
        const wchar_t* text;
    } cases[] = {
        {0, 0, 4, L"[ [ 1, \"x\" ] ]"},                   // indent 0: always compact
        {2, 0, 1, L"[ [ 1, \"x\" ] ]"},                   // depth 1: nothing expands
        {2, 0, 2, L"[\n  [ 1, \"x\" ]\n]"},               // only the outer array
        {2, 0, 3, L"[\n  [\n    1,\n    \"x\"\n  ]\n]"},  // both
        {1, 0, 3, L"[\n[\n1,\n\"x\"\n]\n]"},              // indent 1: line breaks, no padding
        {4, 0, 2, L"[\n    [ 1, \"x\" ]\n]"},
        {2, 2, 4, L"[\n      [ 1, \"x\" ]\n    ]"},       // starting two levels down
    };
    for (const auto& c : cases)
        EXPECT_EQ(outer.stringify(c.indent, c.level, c.expand_depth), c.text)
            << "indent " << c.indent << ", level " << c.level << ", depth " << c.expand_depth;
}

TEST(JsonWriter, AsciifyEscapesEverythingAboveAscii)
{
    Value object;
    object.get_object()[L"soundfile"] = L"/sounds/caf\u00e9 \U0001F600.wav";
    const std::string text = object.asciify(2, 4);
    EXPECT_EQ(text, "{\n  \"soundfile\": \"\\/sounds\\/caf\\u00e9 \\ud83d\\ude00.wav\"\n}");
    for (const char c : text)
        EXPECT_LT(static_cast<unsigned char>(c), 128u);
}

} // namespace
