// Whole text files: reading, and replacing through a temporary file and a rename.
#include "synth/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace korvel::vimble {

namespace {

// Writes all of text to fd, resuming after partial writes and interruptions.
bool write_all(int fd, const std::string& text) {
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

// A name for the temporary file beside target that no other writer uses at the same time.
std::string temporary_name(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  return target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

std::string read_text_file(const std::string& path) {
  try {
    std::ifstream file(path, std::ios::in | std::ios::binary);
    if (!file) return {};
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  } catch (...) {
    return {};
  }
}

bool write_text_file(const std::string& path, const std::string& text) noexcept {
  try {
    std::string target = path;
    std::error_code error;
    if (std::filesystem::is_symlink(path, error)) {
      const auto resolved = std::filesystem::weakly_canonical(path, error);
      if (error) return false;
      target = resolved.string();
    }
    const std::string temporary = temporary_name(target);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    // The data must be on the disk before the rename makes it the file.
    ok = ok && write_all(fd, text) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
  } catch (...) {
    return false;
  }
}

}  // namespace korvel::vimble
