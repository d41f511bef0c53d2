// Text helper: the plain decimal number test.
#include "utility/is_numeric.h"

#include <algorithm>
#include <cassert>
#include <cstddef>

namespace {

template <typename Text>
bool is_numeric_text(const Text& text, int n)
{
    assert((n < 0 || n > 1) && "n < 0 || n > 1");
    const std::size_t length = n < 0 ? text.size() : std::min(text.size(), std::size_t(n));
    auto is_digit = [](auto c) { return c >= '0' && c <= '9'; };
    if (length == 0)
        return false;
    if (length == 1)
        return is_digit(text[0]);

    const auto first = text[0];
    if (!is_digit(first) && first != '+' && first != '-' && first != '.')
        return false;
    bool seen_point = first == '.';
    for (std::size_t i = 1; i < length; ++i) {
        const auto c = text[i];
        if (c == '.') {
            if (seen_point)
                return false;
            seen_point = true;
        } else if (!is_digit(c)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool is_numeric(const std::string& text, int n) { return is_numeric_text(text, n); }

bool is_numeric(const std::wstring& text, int n) { return is_numeric_text(text, n); }
