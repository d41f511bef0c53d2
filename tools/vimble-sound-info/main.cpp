// vimble-sound-info: shows what the sound loader sees in a file, and why a file does not sound.
//
//   vimble-sound-info FILE [--json] [--samples N]
//
// Prints the container, the format tag or compression, channels, sample rate, sample type, frame
// count, the load status, the peak minimum and maximum, the lengths of the three analysis tracks
// and, with --samples N, the first N decoded frames. Exits 0 when the sound loads (status Ready),
// 1 when it does not, 2 on a usage error.
#include "audio/riff_codec.h"
#include "audio/sound_analysis_pack.h"
#include "audio/sound_file.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string path;
    bool json = false;
    std::uint64_t samples = 0;
};

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--samples" && i + 1 < argc) {
            char* end = nullptr;
            const char* text = argv[++i];
            options.samples = std::strtoull(text, &end, 10);
            if (*text == '\0' || *text == '-' || *end != '\0')
                return false;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return false;
        } else if (options.path.empty()) {
            options.path = arg;
        } else {
            return false;
        }
    }
    return !options.path.empty();
}

// What the header says; empty strings where there is no codec.
struct HeaderInfo {
    std::string container = "none";
    std::string encoding;         // "format tag 1 (PCM)", "compression NONE", ...
    unsigned bits = 0;
    bool has_codec = false;
    audio::SoundFormat format;
    std::uint64_t frames = 0;
    std::string error;            // why the file could not be opened
};

std::string four(const std::array<char, 4>& id)
{
    std::string s;
    for (char c : id)
        s += (c >= 32 && c < 127) ? c : '?';
    return s;
}

std::string tag_text(std::uint16_t tag)
{
    char text[64];
    const char* name = tag == 1 ? "PCM" : tag == 3 ? "IEEE float" : tag == 0xFFFE ? "extensible" : "not decoded";
    std::snprintf(text, sizeof text, "0x%04X (%s)", tag, name);
    return text;
}

HeaderInfo read_header(const std::string& path)
{
    HeaderInfo info;
    try {
        audio::Soundfile file(path);
        if (!file.codec)
            return info;
        info.has_codec = true;
        info.format = file.codec->format;
        info.frames = file.framecount();
        if (const auto* riff = dynamic_cast<const audio::RiffCodec*>(file.codec.get())) {
            info.container = std::string(riff->little_endian ? "RIFF/" : "FORM/") + four(riff->form_type);
            info.bits = riff->bits;
            if (riff->format_chunk.offset == 0) {
                info.encoding = "no format chunk";
            } else if (riff->little_endian) {
                info.encoding = "format tag " + tag_text(riff->format_tag);
                if (riff->format_tag == 0xFFFE)
                    info.encoding += ", sub-format " + tag_text(riff->sub_format);
            } else {
                info.encoding = "compression " + four(riff->compression);
            }
            if (riff->format_chunk.offset != 0 && !riff->supported)
                info.encoding += ", not decodable";
            if (riff->format_chunk.offset != 0 && riff->data_chunk.offset == 0)
                info.encoding += ", no data chunk";
        }
    } catch (const std::exception& e) {
        info.error = e.what();
    }
    return info;
}

std::string json_string(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Floats exactly, in a form JSON accepts (no inf or nan there).
std::string number(double v, bool json)
{
    if (json && !std::isfinite(v))
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: vimble-sound-info FILE [--json] [--samples N]\n");
        return 2;
    }
    const HeaderInfo header = read_header(options.path);
    const std::shared_ptr<audio::SoundPack> pack = audio::load_sound_pack(options.path);
    const bool ready = pack->status == audio::SoundPack::Ready;
    const std::uint32_t channels = pack->format.channels;
    const std::uint64_t shown = ready ? std::min(options.samples, pack->framecount) : 0;

    if (options.json) {
        std::string out = "{\n";
        const auto field = [&out](const char* name, const std::string& value) {
            out += "  " + json_string(name) + ": " + value + ",\n";
        };
        field("file", json_string(options.path));
        field("container", json_string(header.container));
        field("encoding", json_string(header.encoding));
        if (!header.error.empty())
            field("error", json_string(header.error));
        field("channels", std::to_string(header.format.channels));
        field("samplerate", std::to_string(header.format.samplerate));
        field("sample_type", json_string(header.has_codec ? audio::data_type_name(header.format.type) : ""));
        field("bits", std::to_string(header.bits));
        field("frames", std::to_string(header.frames));
        field("status", json_string(audio::status_name(pack->status)));
        if (ready) {
            field("peak_min", number(pack->peaks.min, true));
            field("peak_max", number(pack->peaks.max, true));
            field("amplitude_values", std::to_string(pack->amplitude.values.size()));
            field("peak_values", std::to_string(pack->peaks.values.size()));
            field("noisiness_values", std::to_string(pack->noisiness.values.size()));
        }
        out += "  \"samples\": [";
        for (std::uint64_t f = 0; f < shown; ++f) {
            out += f ? ",\n    [" : "\n    [";
            for (std::uint32_t c = 0; c < channels; ++c)
                out += (c ? ", " : "") + number(pack->samples[f * channels + c], true);
            out += "]";
        }
        out += shown ? "\n  ]\n}\n" : "]\n}\n";
        std::fputs(out.c_str(), stdout);
    } else {
        std::printf("file: %s\n", options.path.c_str());
        std::printf("container: %s\n", header.container.c_str());
        if (!header.encoding.empty())
            std::printf("encoding: %s\n", header.encoding.c_str());
        if (!header.error.empty())
            std::printf("error: %s\n", header.error.c_str());
        if (header.has_codec) {
            std::printf("channels: %u\n", header.format.channels);
            std::printf("sample rate: %u\n", header.format.samplerate);
            std::printf("sample type: %s (%u bits)\n", audio::data_type_name(header.format.type), header.bits);
        }
        std::printf("frames: %" PRIu64 "\n", header.frames);
        std::printf("status: %s\n", audio::status_name(pack->status));
        if (ready) {
            std::printf("peak min: %s\n", number(pack->peaks.min, false).c_str());
            std::printf("peak max: %s\n", number(pack->peaks.max, false).c_str());
            std::printf("amplitude values: %zu\n", pack->amplitude.values.size());
            std::printf("peak values: %zu\n", pack->peaks.values.size());
            std::printf("noisiness values: %zu\n", pack->noisiness.values.size());
        }
        if (shown > 0) {
            std::printf("samples:\n");
            for (std::uint64_t f = 0; f < shown; ++f) {
                std::printf("%" PRIu64 ":", f);
                for (std::uint32_t c = 0; c < channels; ++c)
                    std::printf(" %s", number(pack->samples[f * channels + c], false).c_str());
                std::printf("\n");
            }
        }
    }
    return ready ? 0 : 1;
}
