// JSON values: copies, comparison, lengths and member access.
#include "utility/json_value.h"

#include <gtest/gtest.h>

namespace {

using JSON::Value;

Value sample_document()
{
    Value document;
    document.get_object()[L"name"] = L"rain";
    document[L"rate"] = 20;
    Value& points = document[L"points"];
    points[L"2"] = Value(Value::True); // [null, null, true]
    points[L"0"] = 7;
    points[L"1"] = 8;
    return document;
}

TEST(JsonValue, DefaultIsNullOfLengthOne)
{
    const Value value;
    EXPECT_EQ(value.kind(), Value::Null);
    EXPECT_TRUE(value.is_valid());
    EXPECT_EQ(value.length(), 1u);
}

TEST(JsonValue, CopiesAreDeep)
{
    Value original = sample_document();
    Value copy = original;
    EXPECT_TRUE(copy.equal(original));

    copy[L"points"][L"0"] = 5;
    copy[L"name"] = L"snow";
    EXPECT_EQ(original[L"points"][L"0"].get_number(), 7.0);
    EXPECT_EQ(original[L"name"].get_string(), L"rain");
    EXPECT_FALSE(copy.equal(original));

    // Assigning a member to its own container keeps the member alive until it is copied.
    Value nested = sample_document();
    nested = nested[L"points"];
    EXPECT_EQ(nested.kind(), Value::Array);
    EXPECT_EQ(nested.length(), 3u);
    Value moved = std::move(nested);
    EXPECT_EQ(moved.length(), 3u);
}

TEST(JsonValue, ComparesByKindAndContent)
{
    const struct {
        Value a;
        Value b;
        bool equal;
    } cases[] = {
        {Value(1.5), Value(1.5), true},
        {Value(1.0), Value(L"1"), false},
        {Value(L"abc"), Value(L"abc"), true},
        {Value(L"abc"), Value(L"abd"), false},
        {Value(Value::True), Value(Value::True), true},
        {Value(Value::True), Value(Value::False), false},
        {Value(), Value(), true},
        {Value(), Value(Value::Object), false},
        {Value(JSON::Deque{1, 2}), Value(JSON::Deque{1, 2}), true},
        {Value(JSON::Deque{1, 2}), Value(JSON::Deque{2, 1}), false},
        {Value(JSON::Deque{1, 2}), Value(JSON::Deque{1}), false},
        {Value(JSON::Map{{L"a", 1}}), Value(JSON::Map{{L"a", 1}}), true},
        {Value(JSON::Map{{L"a", 1}}), Value(JSON::Map{{L"b", 1}}), false},
        {Value(JSON::Map{{L"a", 1}}), Value(JSON::Map{{L"a", 2}}), false},
        {sample_document(), sample_document(), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a.equal(c.b), c.equal) << c.a.asciify(0, 0) << " vs " << c.b.asciify(0, 0);
        EXPECT_EQ(c.b.equal(c.a), c.equal) << c.a.asciify(0, 0) << " vs " << c.b.asciify(0, 0);
    }
}

TEST(JsonValue, LengthCountsMembers)
{
    EXPECT_EQ(sample_document().length(), 3u);
    EXPECT_EQ(Value(JSON::Deque{1, 2, 3}).length(), 3u);
    EXPECT_EQ(Value(Value::Object).length(), 0u);
    EXPECT_EQ(Value(L"").length(), 1u);
    EXPECT_EQ(Value(7).length(), 1u);
}

TEST(JsonValue, GetObjectAndArrayTurnNullIntoContainers)
{
    Value value;
    value.get_object();
    EXPECT_EQ(value.kind(), Value::Object);
    EXPECT_EQ(value.length(), 0u);

    Value list;
    list.get_array().push_back(1);
    EXPECT_EQ(list.kind(), Value::Array);
    EXPECT_EQ(list.length(), 1u);

    // A const null stays null and shows an empty map.
    const Value constant;
    EXPECT_TRUE(constant.get_object().empty());
    EXPECT_EQ(constant.kind(), Value::Null);
}

TEST(JsonValue, GetObjectOfOtherKindsGivesScratchThatDoesNotLast)
{
    Value number(3);
    number.get_object()[L"x"] = 1;
    EXPECT_TRUE(number.get_object().empty());
    number.get_array().push_back(1);
    EXPECT_TRUE(number.get_array().empty());
    EXPECT_EQ(number.kind(), Value::Number);
    EXPECT_EQ(number.get_number(), 3.0);
}

TEST(JsonValue, ConstIndexReadsMembersOrNull)
{
    const Value document = sample_document();
    EXPECT_EQ(document[L"rate"].get_number(), 20.0);
    EXPECT_EQ(document[L"missing"].kind(), Value::Null);
    EXPECT_EQ(document.length(), 3u); // nothing inserted

    const Value& points = document[L"points"];
    const struct {
        const wchar_t* key;
        Value::Kind kind;
    } cases[] = {
        {L"2", Value::True},
        {L"0", Value::Number},
        {L"0.9995", Value::Null}, // rounds to no index
        {L"2.0005", Value::True}, // within 0.001 of a whole index
        {L"+2", Value::True},
        {L".5", Value::Null},    // not a whole index: the scratch null
        {L"2.5", Value::Null},
        {L"3", Value::Null},     // past the end
        {L"-1", Value::Null},
        {L"-.5", Value::Null},
        {L"x", Value::Null},
        {L"1e0", Value::Null},   // not numeric
    };
    for (const auto& c : cases)
        EXPECT_EQ(points[c.key].kind(), c.kind) << "key " << testing::PrintToString(std::wstring(c.key));
    EXPECT_EQ(points.length(), 3u);

    const Value number(5);
    EXPECT_EQ(number[L"0"].kind(), Value::Null);
    EXPECT_EQ(number[L"a"].kind(), Value::Null);
}

TEST(JsonValue, IndexForWritingInsertsAndGrows)
{
    Value object(Value::Object);
    object[L"a"];
    EXPECT_EQ(object.length(), 1u);
    EXPECT_EQ(object[L"a"].kind(), Value::Null);

    Value array;
    array[L"1.7"] = 4; // a null becomes an array that grows to index 1
    ASSERT_EQ(array.kind(), Value::Array);
    EXPECT_EQ(array.length(), 2u);
    EXPECT_EQ(array.get_array()[1].get_number(), 4.0);
    array[L"0"] = 3;
    EXPECT_EQ(array.length(), 2u);

    // Keys that cannot index (and any key on other kinds) give a scratch null.
    for (const wchar_t* key : {L"x", L"-1", L"-.5", L"1e3"}) {
        array[key] = 9;
        EXPECT_EQ(array.length(), 2u) << testing::PrintToString(std::wstring(key));
    }
    Value text(L"abc");
    text[L"0"] = 1;
    text[L"a"] = 1;
    EXPECT_EQ(text.get_string(), L"abc");
    Value null;
    null[L"name"] = 1; // a null only turns into an array, by a numeric key
    EXPECT_EQ(null.kind(), Value::Null);
}

TEST(JsonValue, AccessorsOfOtherKindsReadEmpty)
{
    EXPECT_EQ(Value(L"7").get_number(), 0.0);
    EXPECT_EQ(Value(7).get_string(), L"");
    EXPECT_EQ(Value(Value::String).get_string(), L"");
    EXPECT_EQ(Value(Value::Number).get_number(), 0.0);
}

} // namespace
