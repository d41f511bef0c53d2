// Reading the headers of RIFF/WAVE and FORM/AIFF(-C) files.
#include "audio/riff_codec.h"

#include "audio/sound_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace audio {

namespace {

constexpr std::uint16_t WAVE_PCM = 1;
constexpr std::uint16_t WAVE_FLOAT = 3;
constexpr std::uint16_t WAVE_EXTENSIBLE = 0xFFFE;
// The sub-format GUID of an extensible file after its leading tag: 00000000-0010-8000-00AA00389B71.
constexpr unsigned char WAVE_GUID_TAIL[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Fields of the fixed parts of the format chunks, counted from the chunk header.
constexpr std::uint64_t FMT_FIELDS = 16;          // tag .. bits per sample
constexpr std::uint64_t FMT_EXTENSIBLE_FIELDS = 40;
constexpr std::uint64_t COMM_FIELDS = 18;          // channels .. sample rate
constexpr std::uint64_t AIFC_COMM_FIELDS = 22;     // .. compression type

bool is_id(const char* bytes, const char (&id)[5]) noexcept
{
    return std::memcmp(bytes, id, 4) == 0;
}
bool is_id(const std::array<char, 4>& bytes, const char (&id)[5]) noexcept
{
    return is_id(bytes.data(), id);
}

// Bounds-checked reads of the mapping: a field that does not lie wholly inside it reads as
// absent, and the caller treats the file as one it cannot decode.
class Reader {
public:
    Reader(const FileMapping& mapping, bool little) noexcept
        : data_(reinterpret_cast<const unsigned char*>(mapping.data())), size_(mapping.size()), little_(little)
    {
    }
    bool has(std::uint64_t offset, std::uint64_t length) const noexcept
    {
        return offset <= size_ && length <= size_ - offset;
    }
    std::uint32_t unsigned_field(std::uint64_t offset, unsigned bytes) const noexcept
    {
        std::uint32_t v = 0;
        for (unsigned i = 0; i < bytes; ++i) {
            std::uint32_t b = data_[offset + i];
            v |= little_ ? b << (8 * i) : b << (8 * (bytes - 1 - i));
        }
        return v;
    }
    std::uint16_t u16(std::uint64_t offset) const noexcept
    {
        return static_cast<std::uint16_t>(unsigned_field(offset, 2));
    }
    std::uint32_t u32(std::uint64_t offset) const noexcept { return unsigned_field(offset, 4); }
    std::uint8_t byte(std::uint64_t offset) const noexcept { return data_[offset]; }
    std::array<char, 4> id(std::uint64_t offset) const noexcept
    {
        std::array<char, 4> v;
        std::memcpy(v.data(), data_ + offset, 4);
        return v;
    }
    std::uint64_t size() const noexcept { return size_; }

private:
    const unsigned char* data_;
    std::uint64_t size_;
    bool little_;
};

// Type of an integer sample that is bits wide; samples narrower than their container are
// stored left-justified in whole bytes, so the container decides.
SoundFormat::DataType integer_type(unsigned bits, bool& supported) noexcept
{
    switch ((bits + 7) / 8) {
    case 1: return SoundFormat::Byte;
    case 2: return SoundFormat::Short;
    case 3: return SoundFormat::Int24;
    case 4: return SoundFormat::Int32;
    default: supported = false; return SoundFormat::Short;
    }
}

// The sample rate from an 80-bit extended float: the top 32 bits of the mantissa scaled by the
// exponent. For exponents with high byte 0x40 this is the mantissa shifted right by 30 minus
// the exponent's low byte. Rates that are negative, below 1 or beyond 32 bits give 0.
std::uint32_t extended_to_rate(const Reader& r, std::uint64_t at) noexcept
{
    unsigned exponent = static_cast<unsigned>(r.byte(at) & 0x7F) << 8 | r.byte(at + 1);
    if ((r.byte(at) & 0x80) != 0)
        return 0;
    double mantissa = static_cast<double>(r.unsigned_field(at + 2, 4));
    double rate = std::ldexp(mantissa, static_cast<int>(exponent) - 16383 - 31);
    if (!(rate >= 1.0 && rate < 4294967296.0))
        return 0;
    return static_cast<std::uint32_t>(rate);
}

} // namespace

RiffCodec::RiffCodec(std::unique_ptr<FileMapping> mapping, std::uint32_t header)
    : Codec(std::move(mapping), header)
{
    const Reader probe(*file, true);
    if (!probe.has(0, 4))
        return;
    const char* expected_format;
    const char* expected_data;
    if (is_id(probe.id(0), "RIFF")) {
        little_endian = true;
        expected_format = "fmt ";
        expected_data = "data";
    } else if (is_id(probe.id(0), "FORM")) {
        little_endian = false;
        expected_format = "COMM";
        expected_data = "SSND";
    } else {
        return;
    }
    const Reader r(*file, little_endian);
    if (r.has(8, 4))
        form_type = r.id(8);

    // The chunk walk. Positions are 64-bit, so a size field can never make them wrap.
    bool data_readable = false;
    for (std::uint64_t at = 12; r.has(at, 8);) {
        Chunk chunk{at, r.id(at), r.u32(at + 4)};
        chunks.push_back(chunk);
        if (std::memcmp(chunk.id.data(), expected_format, 4) == 0) {
            format_chunk = chunk;
        } else if (std::memcmp(chunk.id.data(), expected_data, 4) == 0) {
            data_chunk = chunk;
            frames_offset = at + 8;
            data_readable = true;
            if (!little_endian) {
                // SSND: a 32-bit offset to the first frame and a block size precede the frames.
                data_readable = r.has(at + 8, 8);
                if (data_readable)
                    frames_offset = at + 16 + r.u32(at + 8);
            }
        }
        at += 8 + std::uint64_t{chunk.size} + (chunk.size & 1);
    }
    if (format_chunk.offset == 0)
        return;

    // The sample encoding; `supported` stays false for anything the codec cannot decode.
    bool swap = !little_endian;
    bool unsigned_bytes = false;
    const std::uint64_t f = format_chunk.offset + 8;
    if (little_endian) {
        if (format_chunk.size < FMT_FIELDS || !r.has(f, FMT_FIELDS))
            return;
        format_tag = r.u16(f);
        format.channels = r.u16(f + 2);
        format.samplerate = r.u32(f + 4);
        bits = r.u16(f + 14);
        std::uint16_t tag = format_tag;
        supported = true;
        if (tag == WAVE_EXTENSIBLE) {
            if (format_chunk.size >= FMT_EXTENSIBLE_FIELDS && r.has(f, FMT_EXTENSIBLE_FIELDS)) {
                sub_format = r.u16(f + 24);
                tag = sub_format;
                if (std::memcmp(file->data() + f + 26, WAVE_GUID_TAIL, sizeof WAVE_GUID_TAIL) != 0)
                    supported = false;
            } else {
                supported = false;
            }
        }
        if (tag == WAVE_PCM) {
            format.type = integer_type(bits, supported);
            unsigned_bytes = format.type == SoundFormat::Byte;
        } else if (tag == WAVE_FLOAT && bits == 32) {
            format.type = SoundFormat::Float;
        } else if (tag == WAVE_FLOAT && bits == 64) {
            format.type = SoundFormat::Double;
        } else {
            supported = false;
        }
    } else {
        if (format_chunk.size < COMM_FIELDS || !r.has(f, COMM_FIELDS))
            return;
        format.channels = r.u16(f);
        bits = r.u16(f + 6);
        format.samplerate = extended_to_rate(r, f + 8);
        supported = true;
        format.type = integer_type(bits, supported);
        compression = {'N', 'O', 'N', 'E'};
        if (is_id(form_type, "AIFC")) {
            if (format_chunk.size < AIFC_COMM_FIELDS || !r.has(f, AIFC_COMM_FIELDS)) {
                supported = false;
            } else {
                compression = r.id(f + 18);
                if (is_id(compression, "NONE") || is_id(compression, "twos")) {
                    // big-endian integers, as in AIFF
                } else if (is_id(compression, "sowt")) {
                    swap = false;
                } else if (is_id(compression, "fl32") || is_id(compression, "FL32")) {
                    format.type = SoundFormat::Float;
                    supported = true;
                } else if (is_id(compression, "fl64") || is_id(compression, "FL64")) {
                    format.type = SoundFormat::Double;
                    supported = true;
                } else {
                    supported = false;
                }
            }
        }
    }
    if (format.channels == 0 || format.samplerate == 0)
        supported = false;
    if (!supported || !data_readable)
        return;

    // Whole frames that both the data chunk and the file hold.
    const std::uint64_t header_bytes = frames_offset - (data_chunk.offset + 8);
    const std::uint64_t frame_bytes = std::uint64_t{bytes_per_sample(format.type)} * format.channels;
    if (frames_offset > r.size() || header_bytes > data_chunk.size)
        return;
    frame_count = std::min((data_chunk.size - header_bytes) / frame_bytes, (r.size() - frames_offset) / frame_bytes);

    // The decoders. One-byte samples have no byte order, so both families read them natively;
    // WAVE's 8-bit samples are unsigned.
    for (int i = 0; i < SAMPLE_TYPES; ++i) {
        switch (format.type) {
        case SoundFormat::Byte:
            decoders[i] = unsigned_bytes ? Unsigned_Byte_Readers[i] : PodConversions[0][i][BYTE_INDEX];
            break;
        case SoundFormat::Short: decoders[i] = PodConversions[swap][i][SHORT_INDEX]; break;
        case SoundFormat::Int24: decoders[i] = PodConversions[swap][i][INT24_INDEX]; break;
        case SoundFormat::Float: decoders[i] = PodConversions[swap][i][FLOAT_INDEX]; break;
        case SoundFormat::Double: decoders[i] = PodConversions[swap][i][DOUBLE_INDEX]; break;
        case SoundFormat::Int32: decoders[i] = Int32_Readers[swap][i]; break;
        }
    }
}

const char* RiffCodec::frames_begin() const
{
    return file->data() + std::min<std::uint64_t>(frames_offset, file->size());
}

std::unique_ptr<Codec> Get_RIFF_Reader(std::unique_ptr<FileMapping> mapping, std::uint32_t header)
{
    return std::make_unique<RiffCodec>(std::move(mapping), header);
}

} // namespace audio
