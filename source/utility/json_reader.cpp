// JSON reader: the lenient parser for saved states and patch files.
#include "utility/json_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <string_view>
#include <type_traits>

namespace JSON::detail {

namespace {

// The offending text quoted in "could not parse" messages is cut here, so that a binary chunk
// does not fill the error stream once per nesting level.
constexpr std::size_t MAX_QUOTED = 100;

// The character at the cursor as a code: narrow input byte by byte (0x80..0xFF standing for
// U+0080..U+00FF), wide input element by element.
template <typename It>
char32_t code_at(const It& cursor)
{
    using Char = std::remove_cvref_t<decltype(*cursor)>;
    return static_cast<char32_t>(static_cast<std::make_unsigned_t<Char>>(*cursor));
}

template <typename It>
constexpr bool is_narrow()
{
    return sizeof(std::remove_cvref_t<decltype(*std::declval<It>())>) == 1;
}

// The C locale's white space.
bool is_blank(char32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool is_digit(char32_t c) { return c >= '0' && c <= '9'; }

template <typename It>
void eat_white(It& cursor, It end)
{
    while (cursor != end && is_blank(code_at(cursor)))
        ++cursor;
}

void append_utf8(std::string& out, char32_t code)
{
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// Input characters for a message: narrow input as its bytes, wide input as UTF-8.
template <typename It>
void append_input_char(std::string& out, const It& cursor)
{
    if constexpr (is_narrow<It>())
        out += static_cast<char>(*cursor);
    else
        append_utf8(out, code_at(cursor));
}

[[noreturn]] void fail(const std::string& message) { throw ParseError(message); }

} // namespace

// Consumes the expected character; when it is not there, throws "JSON expected <c>" or, when
// throw_error is off, returns false without consuming anything.
template <typename It>
bool expect_noeatwhite(It& cursor, It end, char expected, bool throw_error)
{
    if (cursor != end && code_at(cursor) == char32_t(expected)) {
        ++cursor;
        return true;
    }
    if (throw_error)
        fail(std::string("JSON expected ") + expected);
    return false;
}

template <typename It>
int get_hexdigit(It& cursor, It end)
{
    if (cursor == end)
        fail("Unicode escape sequence clipped at end of input");
    const char32_t c = code_at(cursor);
    int digit = -1;
    if (is_digit(c))
        digit = int(c - '0');
    else if (c >= 'a' && c <= 'f')
        digit = int(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        digit = int(c - 'A' + 10);
    if (digit < 0) {
        std::string message = "Invalid char in Unicode escape sequence: ";
        append_input_char(message, cursor);
        fail(message);
    }
    ++cursor;
    return digit;
}

// Four hexadecimal digits as one character code.
template <typename It>
char32_t get_unicode(It& cursor, It end)
{
    char32_t code = 0;
    for (int i = 0; i < 4; ++i)
        code = code * 16 + char32_t(get_hexdigit(cursor, end));
    return code;
}

// One character of a string, with its escape resolved.
template <typename It>
char32_t escape(It& cursor, It end)
{
    const char32_t c = code_at(cursor);
    ++cursor;
    if (c != '\\')
        return c;
    if (cursor == end)
        return '\\';
    const char32_t escaped = code_at(cursor);
    ++cursor;
    switch (escaped) {
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'u': break;
    default: return escaped; // "/", a quote, a backslash, an apostrophe, anything else
    }

    const char32_t unit = get_unicode(cursor, end);
    // The writer writes a character above U+FFFF as two escaped surrogates; a high surrogate
    // directly followed by an escaped low one is read back as that one character. Anything
    // else after a high surrogate is left for the next call.
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        It look = cursor;
        if (look != end && code_at(look) == '\\' && ++look != end && code_at(look) == 'u') {
            ++look;
            char32_t low = 0;
            int digits = 0;
            for (; digits < 4 && look != end; ++digits, ++look) {
                const char32_t d = code_at(look);
                const int value = is_digit(d) ? int(d - '0')
                    : (d >= 'a' && d <= 'f')  ? int(d - 'a' + 10)
                    : (d >= 'A' && d <= 'F')  ? int(d - 'A' + 10)
                                              : -1;
                if (value < 0)
                    break;
                low = low * 16 + char32_t(value);
            }
            if (digits == 4 && low >= 0xDC00 && low <= 0xDFFF) {
                cursor = look;
                return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            }
        }
    }
    return unit;
}

template <typename It>
std::wstring read_string(It& cursor, It end)
{
    eat_white(cursor, end);
    expect_noeatwhite(cursor, end, '"', true);
    std::wstring text;
    while (cursor != end && code_at(cursor) != '"')
        text += static_cast<wchar_t>(escape(cursor, end));
    expect_noeatwhite(cursor, end, '"', true);
    eat_white(cursor, end);
    return text;
}

// An optional sign, digits, an optional "." with digits, an optional exponent ("e" or "E", an
// optional sign, digits; a sign without digits is exponent 0). The number ends at the first
// character that does not fit; a lone "-" reads as -0.
template <typename It>
double read_number(It& cursor, It end)
{
    bool negative = false;
    if (cursor != end && (code_at(cursor) == '-' || code_at(cursor) == '+')) {
        negative = code_at(cursor) == '-';
        ++cursor;
    }
    // The digits are gathered as text and converted in one correctly rounded step, so that a
    // written "0.3" reads back as exactly the double 0.3 (range checks depend on it).
    std::string digits;
    while (cursor != end && is_digit(code_at(cursor))) {
        digits += char(code_at(cursor));
        ++cursor;
    }
    const std::size_t integer_digits = digits.size() - std::min(digits.size(), digits.find_first_not_of('0'));
    if (digits.empty())
        digits = "0";
    if (cursor != end && code_at(cursor) == '.') {
        ++cursor;
        digits += '.';
        while (cursor != end && is_digit(code_at(cursor))) {
            digits += char(code_at(cursor));
            ++cursor;
        }
    }
    double exponent = 0;
    if (cursor != end && (code_at(cursor) == 'e' || code_at(cursor) == 'E')) {
        ++cursor;
        bool negative_exponent = false;
        if (cursor != end && (code_at(cursor) == '-' || code_at(cursor) == '+')) {
            negative_exponent = code_at(cursor) == '-';
            ++cursor;
        }
        while (cursor != end && is_digit(code_at(cursor))) {
            exponent = exponent * 10 + double(code_at(cursor) - '0');
            ++cursor;
        }
        if (exponent > 308)
            std::cerr << "Exponent overflow: " << exponent << '\n';
        // Any exponent this large already gives infinity or 0; the bound keeps it an int.
        exponent = std::min(exponent, 100000.0);
        if (negative_exponent)
            exponent = -exponent;
    }
    digits += 'e';
    digits += std::to_string(static_cast<int>(exponent));

    double value = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: decide by the decimal magnitude.
        const bool zero = digits.find_first_of("123456789") > digits.find('e');
        const double magnitude = double(integer_digits) + exponent;
        value = zero || magnitude <= 0 ? 0.0 : HUGE_VAL;
    }
    return negative ? -value : value;
}

template <typename It>
Value parse_value(It& cursor, It end, bool throw_on_error, int depth);

template <typename It>
void eat_separator(It& cursor, It end)
{
    eat_white(cursor, end);
    if (cursor != end && code_at(cursor) == ',')
        ++cursor;
    eat_white(cursor, end);
}

void check_nesting(int depth)
{
    if (depth >= MAX_NESTING)
        fail("JSON nested deeper than " + std::to_string(MAX_NESTING) + " levels");
}

template <typename It>
Value read_array(It& cursor, It end, int depth)
{
    eat_white(cursor, end);
    expect_noeatwhite(cursor, end, '[', true);
    check_nesting(depth);
    eat_white(cursor, end);
    Deque members;
    while (cursor != end && code_at(cursor) != ']') {
        members.push_back(parse_value(cursor, end, true, depth + 1));
        eat_separator(cursor, end);
    }
    expect_noeatwhite(cursor, end, ']', true);
    eat_white(cursor, end);
    return Value(std::move(members));
}

template <typename It>
Value read_object(It& cursor, It end, int depth)
{
    eat_white(cursor, end);
    expect_noeatwhite(cursor, end, '{', true);
    check_nesting(depth);
    eat_white(cursor, end);
    Map members;
    while (cursor != end && code_at(cursor) != '}') {
        std::wstring key = read_string(cursor, end);
        eat_white(cursor, end);
        expect_noeatwhite(cursor, end, ':', true);
        eat_white(cursor, end);
        Value member = parse_value(cursor, end, true, depth + 1);
        members.emplace(std::move(key), std::move(member)); // the first of equal keys stays
        eat_separator(cursor, end);
    }
    expect_noeatwhite(cursor, end, '}', true);
    eat_white(cursor, end);
    return Value(std::move(members));
}

// True (and the cursor moved past it) when the input at cursor starts with the word.
template <typename It>
bool take_word(It& cursor, It end, std::string_view word)
{
    It look = cursor;
    for (const char letter : word) {
        if (look == end || code_at(look) != char32_t(letter))
            return false;
        ++look;
    }
    cursor = look;
    return true;
}

template <typename It>
Value parse_value(It& cursor, It end, bool throw_on_error, int depth)
{
    try {
        eat_white(cursor, end);
        if (cursor == end)
            return Value();
        const char32_t c = code_at(cursor);
        if (c == '"')
            return Value(read_string(cursor, end));
        if (c == '[')
            return read_array(cursor, end, depth);
        if (c == '{')
            return read_object(cursor, end, depth);
        if (c == '-' || is_digit(c))
            return Value(read_number(cursor, end));
        // Literals are matched by their letters alone: "nullx" is null followed by "x".
        if (take_word(cursor, end, "null"))
            return Value();
        if (take_word(cursor, end, "true"))
            return Value(Value::True);
        if (take_word(cursor, end, "false"))
            return Value(Value::False);
        if (!throw_on_error)
            return Value();

        std::string message = "JSON value expected, could not parse ";
        std::size_t quoted = 0;
        for (It look = cursor; look != end; ++look, ++quoted) {
            const char32_t stop = code_at(look);
            if (stop == '\t' || stop == '\n' || stop == ' ' || stop == ',' || stop == '}' || stop == ']')
                break;
            if (quoted == MAX_QUOTED) {
                message += "...";
                break;
            }
            append_input_char(message, look);
        }
        fail(message);
    } catch (const ParseError& error) {
        std::cerr << error.what() << '\n';
        throw;
    }
}

} // namespace JSON::detail

namespace JSON {

template <typename It>
Value parse(It& cursor, std::type_identity_t<It> end, bool throw_on_error)
{
    return detail::parse_value(cursor, end, throw_on_error, 0);
}

template Value parse(const char*&, const char*, bool);
template Value parse(char*&, char*, bool);
template Value parse(const wchar_t*&, const wchar_t*, bool);
template Value parse(wchar_t*&, wchar_t*, bool);
template Value parse(std::string::const_iterator&, std::string::const_iterator, bool);
template Value parse(std::string::iterator&, std::string::iterator, bool);
template Value parse(std::wstring::const_iterator&, std::wstring::const_iterator, bool);

} // namespace JSON
