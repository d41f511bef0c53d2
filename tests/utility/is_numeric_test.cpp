// The numeric key test.
#include "utility/is_numeric.h"

#include <gtest/gtest.h>

namespace {

TEST(IsNumeric, AcceptsPlainDecimals)
{
    const struct {
        const char* text;
        bool numeric;
    } cases[] = {
        {"0", true},   {"7", true},    {"12", true},   {"-3", true},   {"+3", true},  {".5", true},
        {"1.5", true}, {"-0.25", true}, {"1.", true},  {"-.", true},   {"+-", false}, {"", false},
        {"-", false},  {".", false},   {"a", false},   {"1.2.3", false}, {".5.", false}, {"1e3", false},
        {" 1", false}, {"1 ", false},  {"--1", false}, {"1-", false},  {"x1", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_numeric(std::string(c.text)), c.numeric) << '"' << c.text << '"';
        const std::string narrow(c.text);
        EXPECT_EQ(is_numeric(std::wstring(narrow.begin(), narrow.end())), c.numeric) << '"' << c.text << '"';
    }
}

TEST(IsNumeric, LooksAtTheFirstNCharacters)
{
    EXPECT_TRUE(is_numeric(std::string("12ab"), 2));
    EXPECT_FALSE(is_numeric(std::string("12ab"), 3));
    EXPECT_TRUE(is_numeric(std::string("12"), 5)); // n beyond the text: the whole text
    EXPECT_TRUE(is_numeric(std::wstring(L"-1x"), 2));
}

TEST(IsNumericDeathTest, RefusesLengthsZeroAndOne)
{
#ifndef NDEBUG
    EXPECT_DEATH(is_numeric(std::string("12"), 0), "n < 0 \\|\\| n > 1");
    EXPECT_DEATH(is_numeric(std::string("12"), 1), "n < 0 \\|\\| n > 1");
#else
    GTEST_SKIP() << "assertions are off in this build";
#endif
}

} // namespace
