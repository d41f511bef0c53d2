// JSON reader: lenient parsing of saved states and patch files into JSON::Value.
//
//   const std::string text = R"({ "a": 1 "b": [1, 2,], })";  // commas are optional
//   const char* cursor = text.data();
//   try {
//       JSON::Value state = JSON::parse(cursor, text.data() + text.size(), false);
//       // cursor now stands after the value and the white space that followed it
//   } catch (const JSON::ParseError& error) {
//       // damage inside a container; the message was already written to std::cerr
//   }
//
// Narrow input is read byte by byte, bytes from 0x80 up standing for U+0080..U+00FF (no UTF-8
// decoding); wide input is read one character per element. The cursor types available are
// const char*, char*, const wchar_t*, wchar_t*, std::string::const_iterator,
// std::string::iterator and std::wstring::const_iterator; the end is converted to the
// cursor's type.
#pragma once

#include "utility/json_value.h"

#include <stdexcept>
#include <string>
#include <type_traits>

namespace JSON {

// Containers nested deeper than this are refused, so that no input can exhaust the stack.
constexpr int MAX_NESTING = 512;

// Damage in the text: a missing "{", "}", "[", "]", ":" or double quote, a value that cannot
// start at a character, a bad "\u" escape, or nesting deeper than MAX_NESTING.
class ParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads one value starting at cursor and leaves cursor after it (and after the white space that
// followed a string or a container). Empty or blank input gives null. When the first non-blank
// character cannot start a value, throw_on_error chooses between a ParseError and null with the
// cursor left on that character; anything wrong inside a container always throws. Every
// ParseError is also written to the standard error stream, once for each value it passes.
// Numbers whose exponent exceeds 308 are read (as infinity or 0) with a warning there.
template <typename It>
Value parse(It& cursor, std::type_identity_t<It> end, bool throw_on_error);

} // namespace JSON
