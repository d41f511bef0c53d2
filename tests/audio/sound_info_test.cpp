// vimble-sound-info: what it prints for a good file, a file that does not sound, and bad usage.
#include "audio/command.h"
#include "audio/sound_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SoundInfo, DescribesAReadableFile)
{
    fixture::TempDir dir;
    const std::string path = (dir.path / "stereo.wav").string();
    fixture::write_file(path, fixture::wave(1, 2, 48000, 16, fixture::integer_samples({16384, -32768, 0, 32767}, 2, true)));

    const command::Result text = command::run({command::sound_info(), path, "--samples", "5"});
    EXPECT_EQ(text.status, 0);
    for (const char* line : {"container: RIFF/WAVE\n", "encoding: format tag 0x0001 (PCM)\n", "channels: 2\n",
                             "sample rate: 48000\n", "sample type: Short (16 bits)\n", "frames: 2\n", "status: Ready\n",
                             "amplitude values: 1\n", "peak values: 1\n", "noisiness values: 0\n",
                             "samples:\n0: 0.500015259 -1.00003052\n1: 0 1\n"})
        EXPECT_NE(text.output.find(line), std::string::npos) << line << "in\n" << text.output;
    // Only the frames the sound has are listed.
    EXPECT_EQ(text.output.find("\n2:"), std::string::npos);

    const command::Result json = command::run({command::sound_info(), path, "--json", "--samples", "1"});
    EXPECT_EQ(json.status, 0);
    for (const char* member : {"\"container\": \"RIFF/WAVE\"", "\"channels\": 2", "\"samplerate\": 48000",
                               "\"sample_type\": \"Short\"", "\"frames\": 2", "\"status\": \"Ready\"",
                               "\"samples\": [\n    [0.500015259, -1.00003052]\n  ]"})
        EXPECT_NE(json.output.find(member), std::string::npos) << member << " in\n" << json.output;
}

TEST(SoundInfo, SaysWhyAFileDoesNotSound)
{
    fixture::TempDir dir;
    const std::string ulaw = (dir.path / "ulaw.aifc").string();
    fixture::write_file(ulaw, fixture::aifc("ulaw", 1, 8000, 16, std::vector<char>(100, 3)));
    const struct {
        std::string path;
        std::vector<std::string> lines;
    } cases[] = {
        {ulaw, {"container: FORM/AIFC\n", "encoding: compression ulaw, not decodable\n", "frames: 0\n", "status: InvalidFile\n"}},
        {(dir.path / "missing.wav").string(), {"container: none\n", "status: FileNotFound\n"}},
        {(dir.path / "none" / "missing.wav").string(), {"status: PathNotFound\n"}},
    };
    for (const auto& c : cases) {
        const command::Result result = command::run({command::sound_info(), c.path});
        EXPECT_EQ(result.status, 1) << c.path;
        for (const std::string& line : c.lines)
            EXPECT_NE(result.output.find(line), std::string::npos) << line << "in\n" << result.output;
    }
}

TEST(SoundInfo, RejectsBadUsage)
{
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"a.wav", "--samples"}, {"a.wav", "--samples", "x"},
                                          {"a.wav", "--frobnicate"}, {"a.wav", "b.wav"}}) {
        args.insert(args.begin(), command::sound_info());
        EXPECT_EQ(command::run(args).status, 2) << args.size();
    }
}

} // namespace
