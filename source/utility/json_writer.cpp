// JSON writer: the fixed text layout of saved states and patch files.
//
// The layout is part of the saved data: projects and patch files hold exactly this text, so
// a change here changes every file written from then on.
#include "utility/json_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace JSON {

namespace {

void append_ascii(std::wstring& out, std::string_view text) { out.append(text.begin(), text.end()); }

void append_unicode_escape(std::wstring& out, unsigned code)
{
    char digits[8];
    std::snprintf(digits, sizeof digits, "\\u%04x", code & 0xFFFF);
    append_ascii(out, digits);
}

void write_string(std::wstring& out, const std::wstring& text)
{
    out += L'"';
    for (const wchar_t character : text) {
        // wchar_t is signed here: look at the code point as unsigned.
        const auto code = static_cast<std::uint32_t>(character);
        switch (code) {
        case '\b': out += L"\\b"; break;
        case '\t': out += L"\\t"; break;
        case '\n': out += L"\\n"; break;
        case '\f': out += L"\\f"; break;
        case '\r': out += L"\\r"; break;
        case '/': out += L"\\/"; break;
        case '\\': out += L"\\\\"; break;
        case '"': out += L"\\\""; break;
        default:
            if (code < 128) {
                out += character; // other control characters too
            } else if (code <= 0xFFFF) {
                append_unicode_escape(out, code);
            } else if (code <= 0x10FFFF) {
                const std::uint32_t offset = code - 0x10000;
                append_unicode_escape(out, 0xD800 + (offset >> 10));
                append_unicode_escape(out, 0xDC00 + (offset & 0x3FF));
            } else {
                append_unicode_escape(out, 0xFFFD); // not a code point
            }
            break;
        }
    }
    out += L'"';
}

void write_number(std::wstring& out, double x)
{
    // JSON has no text for these; nothing in the program makes them, and null reads back as
    // "no value" everywhere.
    if (!std::isfinite(x)) {
        out += L"null";
        return;
    }
    char buffer[400];
    if (std::trunc(x) == 0) {
        // Below 1 in magnitude: six significant digits, as printf's %g writes them (always with
        // a decimal point, whatever the C locale says).
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::general, 6);
        append_ascii(out, std::string_view(buffer, result.ptr));
        return;
    }
    // Otherwise the integer part and up to six decimals without trailing zeros; a fraction of
    // at most 1e-8 counts as none. Rounding the decimals may carry into the integer part.
    double whole = std::trunc(std::fabs(x));
    double fraction = std::fabs(x) - whole;
    if (fraction <= 1e-8)
        fraction = 0;
    long micros = std::lround(fraction * 1e6);
    if (micros >= 1000000) {
        micros -= 1000000;
        whole += 1;
    }
    if (x < 0)
        out += L'-';
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, whole, std::chars_format::fixed, 0);
    append_ascii(out, std::string_view(buffer, result.ptr));
    if (micros != 0) {
        char decimals[24];
        std::snprintf(decimals, sizeof decimals, "%06ld", micros);
        std::string_view digits(decimals);
        digits = digits.substr(0, digits.find_last_not_of('0') + 1);
        out += L'.';
        append_ascii(out, digits);
    }
}

} // namespace

void Value::write(std::wstring& out, int indent, int level, unsigned long expand_depth) const
{
    switch (kind_) {
    case Null: out += L"null"; return;
    case True: out += L"true"; return;
    case False: out += L"false"; return;
    case String: write_string(out, *payload_.string); return;
    case Number: write_number(out, payload_.number); return;
    case Array:
    case Object: break;
    default:
        // A copy that ran out of memory: null keeps the text readable.
        out += L"null";
        return;
    }

    const bool is_object = kind_ == Object;
    if (length() == 0) {
        out += is_object ? L"{}" : L"[]";
        return;
    }

    // The container's own nesting level; its members are written one level deeper.
    const long long container_level = static_cast<long long>(level) + 1;
    const bool expanded = indent != 0 && container_level >= 0
        && static_cast<unsigned long long>(container_level) < expand_depth;
    std::wstring separator = L", ";
    std::wstring closing = is_object ? L" }" : L" ]";
    out += is_object ? L"{ " : L"[ ";
    if (expanded) {
        const std::size_t item_pad = indent >= 2 ? std::size_t(indent) * std::size_t(container_level) : 0;
        const std::size_t close_pad = indent >= 2 ? std::size_t(indent) * std::size_t(container_level - 1) : 0;
        out.back() = L'\n';
        out.append(item_pad, L' ');
        separator = L",\n" + std::wstring(item_pad, L' ');
        closing = L"\n" + std::wstring(close_pad, L' ') + (is_object ? L"}" : L"]");
    }

    bool first = true;
    if (is_object) {
        for (const auto& [key, member] : *payload_.object) {
            if (!first)
                out += separator;
            first = false;
            write_string(out, key);
            out += L": ";
            member.write(out, indent, level + 1, expand_depth);
        }
    } else {
        for (const Value& member : *payload_.array) {
            if (!first)
                out += separator;
            first = false;
            member.write(out, indent, level + 1, expand_depth);
        }
    }
    out += closing;
}

std::wstring Value::stringify(int indent, int level, unsigned long expand_depth) const
{
    std::wstring out;
    write(out, indent, level, expand_depth);
    return out;
}

std::string Value::asciify(int indent, unsigned long expand_depth) const
{
    const std::wstring text = stringify(indent, 0, expand_depth);
    // The writer escapes everything from 128 up, so every character fits one byte as it is.
    return std::string(text.begin(), text.end());
}

} // namespace JSON
