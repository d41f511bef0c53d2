// Read-only bytes of a sound file: a memory mapping of the file, or bytes held in memory.
#pragma once

#include <boost/iostreams/device/mapped_file.hpp>

#include <cstddef>
#include <memory>
#include <vector>

namespace boost::filesystem {
class path;
}

namespace audio {

class FileMapping {
public:
    // Maps the whole file read-only. Throws (from the Boost layer) when the file cannot be
    // opened or mapped. An empty file gives an empty mapping.
    static std::unique_ptr<FileMapping> map(const boost::filesystem::path& path);
    // Holds the given bytes (sounds made in memory, tests, fuzzing).
    static std::unique_ptr<FileMapping> hold(std::vector<char> bytes);

    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;
    ~FileMapping();

    const char* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

private:
    FileMapping() = default;

    boost::iostreams::mapped_file_source mapped_;
    std::vector<char> bytes_;
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace audio
