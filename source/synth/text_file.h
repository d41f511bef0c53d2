// Whole text files: read at once, and replaced safely (patch files, the default patch file).
//
//   std::string text = read_text_file("bank.json");    // empty when it cannot be read
//   if (!write_text_file("bank.json", text)) ...        // the old file is still there
//
// Any thread but the audio thread (they do file I/O).
#pragma once

#include <string>

namespace korvel::vimble {

// The bytes of the file, or an empty text when it cannot be opened or read.
std::string read_text_file(const std::string& path);

// Writes text to a new file in the same folder and renames it over path, so that a crash, a full
// disk or any other failure on the way leaves the old file as it was. The new file keeps the old
// file's permissions (for a new file: those the process creates files with); a symbolic link is
// followed and its target replaced. True when path now holds text; on failure nothing is left
// behind. Never throws.
bool write_text_file(const std::string& path, const std::string& text) noexcept;

}  // namespace korvel::vimble
