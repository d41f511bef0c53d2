// Opening sound files: mapping and choosing the codec.
#include "audio/sound_file.h"

#include "audio/riff_codec.h"

#include <boost/filesystem/path.hpp>

#include <cstring>
#include <stdexcept>

namespace audio {

Soundfile::Soundfile(const std::string& path)
{
    create_decoder(FileMapping::map(boost::filesystem::path(path)));
}

Soundfile::Soundfile(const std::wstring& path)
{
    create_decoder(FileMapping::map(boost::filesystem::path(wide_to_utf8(path))));
}

Soundfile::Soundfile(std::unique_ptr<FileMapping> mapping)
{
    create_decoder(std::move(mapping));
}

void Soundfile::create_decoder(std::unique_ptr<FileMapping> mapping)
{
    if (mapping->size() < 4)
        return;
    if (std::memcmp(mapping->data(), "RIFF", 4) == 0)
        codec = Get_RIFF_Reader(std::move(mapping), WAV);
    else if (std::memcmp(mapping->data(), "FORM", 4) == 0)
        codec = Get_RIFF_Reader(std::move(mapping), AIFF);
}

std::string wide_to_utf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            throw std::invalid_argument("file name is not valid Unicode");
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring utf8_to_wide(const std::string& text)
{
    std::wstring out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned lead = p[i];
        std::size_t extra = lead < 0x80 ? 0 : lead >= 0xC2 && lead < 0xE0 ? 1 : lead >= 0xE0 && lead < 0xF0 ? 2
                          : lead >= 0xF0 && lead < 0xF5                 ? 3
                                                                         : 4;
        std::uint32_t c = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
        bool valid = extra < 4 && extra <= n - i - 1;
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                c = c << 6 | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are not valid either.
        if (valid && ((extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000) || c > 0x10FFFF ||
                      (c >= 0xD800 && c <= 0xDFFF)))
            valid = false;
        if (valid) {
            out += static_cast<wchar_t>(c);
            i += extra + 1;
        } else {
            out += L'\uFFFD';
            ++i;
        }
    }
    return out;
}

const char* data_type_name(SoundFormat::DataType type) noexcept
{
    switch (type) {
    case SoundFormat::Byte: return "Byte";
    case SoundFormat::Short: return "Short";
    case SoundFormat::Int24: return "Int24";
    case SoundFormat::Float: return "Float";
    case SoundFormat::Double: return "Double";
    case SoundFormat::Int32: return "Int32";
    }
    return "unknown";
}

} // namespace audio
