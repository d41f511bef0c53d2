// Fuzz target: the JSON reader on arbitrary bytes, as narrow and as wide input.
//
// Reading may throw JSON::ParseError but must never crash. Whatever it reads must survive the
// writer: the written text reads back without error, and writing that again gives the same text.
#include "utility/json_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

void check_round_trip(const JSON::Value& value)
{
    for (const auto& [indent, depth] : {std::pair{2, 4ul}, {0, 0ul}}) {
        const std::string text = value.asciify(indent, depth);
        const char* cursor = text.data();
        const JSON::Value again = JSON::parse(cursor, text.data() + text.size(), true);
        if (cursor != text.data() + text.size() || again.asciify(indent, depth) != text)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Parse errors are written to the error stream once per nesting level; keep the run quiet.
    std::cerr.rdbuf(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    try {
        auto cursor = text.cbegin();
        const JSON::Value value = JSON::parse(cursor, text.cend(), size % 2 == 0);
        check_round_trip(value);
        // The rest of the input, if any, as a second value (the cursor must stay inside).
        if (cursor != text.cend())
            JSON::parse(cursor, text.cend(), false);
    } catch (const JSON::ParseError&) {
    }

    // The same bytes as wide characters, four to a character, any 32-bit value included.
    std::wstring wide(size / sizeof(wchar_t), L'\0');
    std::memcpy(wide.data(), data, wide.size() * sizeof(wchar_t));
    try {
        const wchar_t* cursor = wide.c_str();
        const wchar_t* end = cursor + wide.size();
        const JSON::Value value = JSON::parse(cursor, end, false);
        value.asciify(2, 4);
    } catch (const JSON::ParseError&) {
    }
    return 0;
}
