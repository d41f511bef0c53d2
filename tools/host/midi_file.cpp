// Standard MIDI File reader: chunks, variable-length deltas, running status, meta tempo events.
#include "host/midi_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

namespace vsthost {

namespace {

constexpr double DEFAULT_MICROS_PER_QUARTER = 500000.0;  // 120 beats per minute

struct TickEvent {
  uint64_t tick = 0;
  int track = 0;
  int order = 0;  // position within its track, to keep simultaneous events in file order
  TimedMidi message;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool at_end() const { return pos_ >= size_; }
  size_t remaining() const { return size_ - pos_; }
  bool byte(uint8_t& out) {
    if (pos_ >= size_) return false;
    out = data_[pos_++];
    return true;
  }
  bool peek(uint8_t& out) const {
    if (pos_ >= size_) return false;
    out = data_[pos_];
    return true;
  }
  bool u16(uint32_t& out) { return big_endian(2, out); }
  bool u32(uint32_t& out) { return big_endian(4, out); }
  bool big_endian(int count, uint32_t& out) {
    if (remaining() < static_cast<size_t>(count)) return false;
    out = 0;
    for (int i = 0; i < count; ++i) out = (out << 8) | data_[pos_++];
    return true;
  }
  // Variable-length quantity: at most four bytes of seven bits.
  bool vlq(uint32_t& out) {
    out = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t b;
      if (!byte(b)) return false;
      out = (out << 7) | (b & 0x7F);
      if (!(b & 0x80)) return true;
    }
    return false;
  }
  bool skip(size_t count) {
    if (remaining() < count) return false;
    pos_ += count;
    return true;
  }
  const uint8_t* here() const { return data_ + pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

int data_bytes_of(uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0: return 1;
    default: return 2;
  }
}

bool read_track(Reader& track, int index, std::vector<TickEvent>& events,
                std::map<uint64_t, double>& tempo_changes, uint64_t& last_tick, std::string* error) {
  uint64_t tick = 0;
  uint8_t running = 0;
  int order = 0;
  while (!track.at_end()) {
    uint32_t delta;
    if (!track.vlq(delta)) break;
    tick += delta;
    uint8_t first;
    if (!track.peek(first)) break;
    if (first == 0xFF) {
      track.skip(1);
      uint8_t type;
      uint32_t length;
      if (!track.byte(type) || !track.vlq(length) || track.remaining() < length) {
        *error = "truncated meta event in track " + std::to_string(index);
        return false;
      }
      if (type == 0x51 && length == 3) {
        const uint8_t* p = track.here();
        const uint32_t micros = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
        if (micros > 0) tempo_changes[tick] = micros;
      }
      track.skip(length);
      last_tick = std::max(last_tick, tick);
      if (type == 0x2F) break;  // end of track
      continue;
    }
    if (first == 0xF0 || first == 0xF7) {  // system exclusive: skipped
      track.skip(1);
      uint32_t length;
      if (!track.vlq(length) || !track.skip(length)) {
        *error = "truncated system-exclusive event in track " + std::to_string(index);
        return false;
      }
      running = 0;
      continue;
    }
    uint8_t status = running;
    if (first & 0x80) {
      track.skip(1);
      status = first;
      running = status;
    }
    if (!(status & 0x80) || status >= 0xF0) {
      *error = "bad event status in track " + std::to_string(index);
      return false;
    }
    TimedMidi message;
    message.status = status;
    if (!track.byte(message.data1)) break;
    if (data_bytes_of(status) == 2 && !track.byte(message.data2)) break;
    message.data1 &= 0x7F;
    message.data2 &= 0x7F;
    events.push_back({tick, index, order++, message});
    last_tick = std::max(last_tick, tick);
  }
  return true;
}

}  // namespace

std::optional<MidiSong> parse_midi_file(const std::vector<uint8_t>& bytes, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  Reader file(bytes.data(), bytes.size());
  uint32_t magic, header_length, format, track_count, division;
  if (!file.u32(magic) || magic != 0x4D546864 /* MThd */ || !file.u32(header_length) ||
      header_length < 6 || !file.u16(format) || !file.u16(track_count) || !file.u16(division) ||
      !file.skip(header_length - 6)) {
    *error = "not a Standard MIDI File";
    return std::nullopt;
  }
  if (format > 1) {
    *error = "MIDI file type " + std::to_string(format) + " is not supported (types 0 and 1 are)";
    return std::nullopt;
  }
  if (division == 0) {
    *error = "MIDI file has a time division of 0";
    return std::nullopt;
  }

  std::vector<TickEvent> events;
  std::map<uint64_t, double> tempo_changes;  // tick -> microseconds per quarter note
  uint64_t last_tick = 0;
  int tracks_read = 0;
  while (tracks_read < static_cast<int>(track_count) && !file.at_end()) {
    uint32_t chunk, length;
    if (!file.u32(chunk) || !file.u32(length)) break;
    const size_t available = std::min<size_t>(length, file.remaining());
    if (chunk != 0x4D54726B /* MTrk */) {  // unknown chunks are skipped
      file.skip(available);
      continue;
    }
    Reader track(file.here(), available);
    if (!read_track(track, tracks_read, events, tempo_changes, last_tick, error)) return std::nullopt;
    file.skip(available);
    ++tracks_read;
  }
  if (tracks_read == 0) {
    *error = "MIDI file has no track";
    return std::nullopt;
  }

  // Ticks to seconds: metrical time follows the tempo map; SMPTE time is fixed.
  auto seconds_at = [&](uint64_t tick) {
    if (division & 0x8000) {
      const int frames_per_second = -static_cast<int8_t>((division >> 8) & 0xFF);
      const int ticks_per_frame = division & 0xFF;
      const double ticks_per_second = std::max(1, frames_per_second * ticks_per_frame);
      return static_cast<double>(tick) / ticks_per_second;
    }
    double seconds = 0;
    uint64_t at = 0;
    double micros = DEFAULT_MICROS_PER_QUARTER;
    for (const auto& [change_tick, change_micros] : tempo_changes) {
      if (change_tick >= tick) break;
      seconds += static_cast<double>(change_tick - at) * micros / 1e6 / division;
      at = change_tick;
      micros = change_micros;
    }
    return seconds + static_cast<double>(tick - at) * micros / 1e6 / division;
  };

  std::stable_sort(events.begin(), events.end(), [](const TickEvent& a, const TickEvent& b) {
    if (a.tick != b.tick) return a.tick < b.tick;
    if (a.track != b.track) return a.track < b.track;
    return a.order < b.order;
  });
  MidiSong song;
  song.format = static_cast<int>(format);
  song.tracks = tracks_read;
  for (TickEvent& e : events) {
    e.message.seconds = seconds_at(e.tick);
    song.messages.push_back(e.message);
  }
  song.length_seconds = seconds_at(last_tick);
  return song;
}

std::optional<MidiSong> read_midi_file(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open MIDI file " + path;
    return std::nullopt;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return parse_midi_file(bytes, error);
}

}  // namespace vsthost
