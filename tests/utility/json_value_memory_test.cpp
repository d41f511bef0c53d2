// JSON values when memory runs out during a copy: an invalid value instead of an exception.
//
// This test program replaces the global allocation functions with ones that can be told to
// fail the n-th allocation from now.
#include "utility/json_reader.h"
#include "utility/json_value.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

// -1: never fail; n >= 0: allocations left before one fails.
int allocations_until_failure = -1;

} // namespace

// These pair malloc with free themselves; GCC only sees operator new meeting free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size)
{
    if (allocations_until_failure >= 0 && allocations_until_failure-- == 0)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }

void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

using JSON::Value;

Value sample_document()
{
    Value document;
    document.get_object()[L"soundfile"] = L"/a/sound/file/name/long/enough/for/the/heap.wav";
    document[L"grain.rate"] = 20;
    Value& points = document[L"adsr1.points"];
    for (const wchar_t* index : {L"0", L"1"}) {
        Value& point = points[index];
        point.get_object()[L"delta"] = 12.5;
        point[L"name"] = L"another string long enough for the heap";
    }
    return document;
}

// Copies original with the n-th allocation failing; tells whether a failure happened.
bool copy_failing_at(const Value& original, int n, Value& copy)
{
    allocations_until_failure = n;
    Value attempt(original);
    const bool failed = allocations_until_failure < 0;
    allocations_until_failure = -1;
    copy = std::move(attempt);
    return failed;
}

TEST(JsonValueMemory, FailedCopyIsInvalid)
{
    const Value original = sample_document();
    Value copy;
    ASSERT_TRUE(copy_failing_at(original, 0, copy));
    EXPECT_FALSE(copy.is_valid());
    EXPECT_EQ(copy.kind(), Value::Object | Value::INVALID);
    EXPECT_EQ(copy.length(), 0u);
    EXPECT_FALSE(copy.equal(original));
    EXPECT_FALSE(original.equal(copy));
    EXPECT_FALSE(copy.equal(Value()));
    EXPECT_TRUE(copy.get_object().empty());
    EXPECT_EQ(copy[L"grain.rate"].kind(), Value::Null);
    // Written as null, so that a saved state stays readable.
    EXPECT_EQ(copy.stringify(2, 0, 4), L"null");
}

TEST(JsonValueMemory, CopyFailingAnywhereLeavesReadableText)
{
    const Value original = sample_document();
    int failures = 0;
    for (int n = 0; n < 1000; ++n) {
        Value copy;
        const bool failed = copy_failing_at(original, n, copy);
        const std::string text = copy.asciify(2, 4);
        const char* cursor = text.data();
        EXPECT_NO_THROW(JSON::parse(cursor, text.data() + text.size(), true)) << "allocation " << n << ":\n" << text;
        if (!failed) {
            EXPECT_TRUE(copy.equal(original));
            break;
        }
        ++failures;
        EXPECT_FALSE(copy.equal(original)) << "allocation " << n;
    }
    EXPECT_GT(failures, 5);
}

} // namespace
