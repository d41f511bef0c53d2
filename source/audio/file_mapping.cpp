// Read-only bytes of a sound file.
#include "audio/file_mapping.h"

#include <boost/filesystem.hpp>

#include <sys/mman.h>

namespace audio {

std::unique_ptr<FileMapping> FileMapping::map(const boost::filesystem::path& path)
{
    std::unique_ptr<FileMapping> mapping(new FileMapping);
    // Mapping zero bytes fails; an empty file is simply a file without a sound.
    if (boost::filesystem::file_size(path) == 0)
        return mapping;
    mapping->mapped_.open(path);
    mapping->data_ = mapping->mapped_.data();
    mapping->size_ = mapping->mapped_.size();
    // The loader reads the whole file once from start to end: ask for read-ahead. Only advice.
    ::madvise(const_cast<char*>(mapping->data_), mapping->size_, MADV_SEQUENTIAL | MADV_WILLNEED);
    return mapping;
}

std::unique_ptr<FileMapping> FileMapping::hold(std::vector<char> bytes)
{
    std::unique_ptr<FileMapping> mapping(new FileMapping);
    mapping->bytes_ = std::move(bytes);
    mapping->data_ = mapping->bytes_.data();
    mapping->size_ = mapping->bytes_.size();
    return mapping;
}

FileMapping::~FileMapping() = default;

} // namespace audio
