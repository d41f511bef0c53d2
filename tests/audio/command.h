// Running a program from a test and reading what it prints.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace command {

struct Result {
    int status = -1; // exit status, or -1 when the program did not exit normally
    std::string output;
};

// Quotes one argument for the shell.
inline std::string quoted(const std::string& arg)
{
    std::string out = "'";
    for (char c : arg)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs the program with its arguments; standard error goes to the test's own.
inline Result run(const std::vector<std::string>& args)
{
    std::string line;
    for (const std::string& a : args)
        line += quoted(a) + " ";
    Result result;
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}

// The first executable of that name on PATH, or an empty path.
inline std::filesystem::path find_on_path(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty())
            continue;
        std::filesystem::path candidate = std::filesystem::path(folder) / name;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error) &&
            (std::filesystem::status(candidate, error).permissions() & std::filesystem::perms::others_exec) !=
                std::filesystem::perms::none)
            return candidate;
    }
    return {};
}

inline std::string sound_info()
{
    return std::string(VIMBLE_BIN_DIR) + "/vimble-sound-info";
}

} // namespace command
