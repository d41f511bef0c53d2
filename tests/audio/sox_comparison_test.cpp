// Files written by sox in every format it writes that the loader reads: the loader's samples
// (through vimble-sound-info) match sox's own decoding within one quantisation step.
#include "audio/command.h"
#include "audio/sound_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Format {
    std::string name;
    std::vector<std::string> sox_options; // output options: type, encoding, bits
    int bits;                             // quantisation of the file; 0 for floating point
};

const Format FORMATS[] = {
    {"wave 8-bit", {"-t", "wav", "-e", "unsigned-integer", "-b", "8"}, 8},
    {"wave 16-bit", {"-t", "wav", "-b", "16"}, 16},
    {"wave 24-bit (extensible)", {"-t", "wav", "-b", "24"}, 24},
    {"wave 32-bit (extensible)", {"-t", "wav", "-b", "32"}, 32},
    {"wave 24-bit", {"-t", "wavpcm", "-b", "24"}, 24},
    {"wave 32-bit", {"-t", "wavpcm", "-b", "32"}, 32},
    {"wave float", {"-t", "wav", "-e", "floating-point", "-b", "32"}, 0},
    {"wave double", {"-t", "wav", "-e", "floating-point", "-b", "64"}, 0},
    {"wave 16-bit, 4 channels (extensible)", {"-t", "wav", "-b", "16", "-c", "4"}, 16},
    {"aiff 8-bit", {"-t", "aiff", "-b", "8"}, 8},
    {"aiff 16-bit", {"-t", "aiff", "-b", "16"}, 16},
    {"aiff 24-bit", {"-t", "aiff", "-b", "24"}, 24},
    {"aiff 32-bit", {"-t", "aiff", "-b", "32"}, 32},
    {"aiff-c 16-bit", {"-t", "aifc", "-b", "16"}, 16},
    {"aiff-c 24-bit", {"-t", "aifc", "-b", "24"}, 24},
    {"aiff-c float", {"-t", "aifc", "-e", "floating-point", "-b", "32"}, 0},
    {"aiff-c double", {"-t", "aifc", "-e", "floating-point", "-b", "64"}, 0},
};

std::vector<double> read_doubles(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<double> values(bytes.size() / sizeof(double));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
    return values;
}

// The "N: a b ..." lines of vimble-sound-info's sample listing, flattened.
std::vector<double> listed_samples(const std::string& output)
{
    std::vector<double> values;
    std::istringstream lines(output);
    std::string line;
    bool in_samples = false;
    while (std::getline(lines, line)) {
        if (line == "samples:") {
            in_samples = true;
            continue;
        }
        if (!in_samples)
            continue;
        std::istringstream fields(line.substr(line.find(':') + 1));
        double v;
        while (fields >> v)
            values.push_back(v);
    }
    return values;
}

TEST(SoxComparison, LoaderMatchesSoxDecodingInEveryFormat)
{
    const std::filesystem::path sox = command::find_on_path("sox");
    ASSERT_FALSE(sox.empty()) << "sox is not on PATH (scripts/deps.sh installs it)";
    fixture::TempDir dir;
    int index = 0;
    for (const Format& format : FORMATS) {
        SCOPED_TRACE(format.name);
        const std::string file = (dir.path / ("sound" + std::to_string(index++))).string();
        // Two tones, one per channel (repeated over further channels); no dither. The loader
        // scales integers by 1/(2^(bits-1) - 1), sox by 1/2^(bits-1): at half level that
        // difference stays within half a step, so an error of one step in decoding shows.
        std::vector<std::string> make = {sox.string(), "-D", "-n", "-r", "8000", "-c", "2"};
        make.insert(make.end(), format.sox_options.begin(), format.sox_options.end());
        make.insert(make.end(), {file, "synth", "0.05", "sine", "440", "sine", "1234", "vol", "0.5"});
        ASSERT_EQ(command::run(make).status, 0);

        const std::string raw = file + ".f64";
        ASSERT_EQ(command::run({sox.string(), "-D", file, "-t", "raw", "-e", "floating-point", "-b", "64", "-L", raw})
                      .status,
                  0);
        const std::vector<double> expected = read_doubles(raw);

        const command::Result info = command::run({command::sound_info(), file, "--samples", "100000"});
        ASSERT_EQ(info.status, 0) << info.output;
        const std::vector<double> got = listed_samples(info.output);
        ASSERT_EQ(got.size(), expected.size()) << info.output.substr(0, 400);
        ASSERT_GT(got.size(), 100u);

        // One step of the file's integers, or of the decoded float for floating-point files.
        const double step = std::max(format.bits ? std::ldexp(1.0, 1 - format.bits) : 0.0, std::ldexp(1.0, -23));
        double worst = 0;
        for (std::size_t i = 0; i < got.size(); ++i)
            worst = std::max(worst, std::abs(got[i] - expected[i]));
        EXPECT_LE(worst, step);
    }
}

} // namespace
