// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture.h"
#include "filesource.h"
#include "temporarydirectory.h"
#include "testsignals.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace lumora::vbvis {
namespace {

using namespace lumora::vbvis::testing;

// Whether a VU value is that of a half-scale sine (RMS 0.5 * 32767 / sqrt(2)
// = 11585) within the tolerance. A source fills the 1024-sample VU window
// over its first 23 ms, in steps as large as its thread's wake-ups are late
// (a loaded machine), so a test waits for this rather than reading once.
bool isHalfScaleVu(int vu, int tolerance)
{
    return std::abs(vu - 11585) <= tolerance;
}

// A scratch folder; `dir / "name"` is a path in it as a string.
struct ScratchDir : lumora::testing::TemporaryDirectory {
    ScratchDir() : TemporaryDirectory("vbvis10-test") { }
    std::string operator/(const std::string& name) const { return (path() / name).string(); }
};

// Writes a tone into a named pipe on its own thread, as a player's fifo
// output does: opens, writes in real time, closes when stopped.
class PipeWriter {
public:
    PipeWriter(std::string path, double hz, double left, double right)
        : m_thread([=, this](std::stop_token stop) {
              const int fd = ::open(path.c_str(), O_WRONLY);
              if (fd < 0)
                  return;
              std::int64_t frame = 0;
              while (!stop.stop_requested()) {
                  const auto chunk = sineFrames(hz, left, right, 441, frame);
                  frame += 441;
                  if (::write(fd, chunk.data(), chunk.size() * 2) < 0)
                      break;
                  ++m_chunks;
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
              ::close(fd);
          })
    {
    }

    // Chunks of 10 ms written so far; stops growing while the pipe is full.
    int chunks() const { return m_chunks.load(); }

private:
    std::atomic<int> m_chunks{0};
    std::jthread m_thread;
};

TEST(FifoSource, DeliversToneWhileWrittenAndSurvivesTheWriterLeaving)
{
    ScratchDir dir;
    const std::string pipe = dir / "music.fifo";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    Capture capture;
    std::ostringstream log;
    ASSERT_TRUE(capture.install(("fifo:" + pipe).c_str(), log, "fixed")) << log.str();
    EXPECT_EQ(capture.vu(0), 0) << "no writer yet";

    for (const auto& [hz, band] : {std::pair{1400.0, 4}, std::pair{11000.0, 7}}) {
        SCOPED_TRACE(std::to_string(hz) + " Hz");
        {
            // Left channel only, at half scale.
            PipeWriter writer(pipe, hz, 16384, 0);
            EXPECT_TRUE(waitUntil([&] {
                return isHalfScaleVu(capture.vu(0), 150) && litBand(spectrumOf(capture, 0)) == band;
            })) << "VU "
                << capture.vu(0);
            EXPECT_EQ(capture.vu(1), 0);
            EXPECT_TRUE(allZero(spectrumOf(capture, 1)));
        }
        // The writer has gone: silence, until the next one comes.
        EXPECT_TRUE(waitUntil([&] { return capture.vu(0) == 0 && allZero(spectrumOf(capture, 0)); }));
    }
}

std::string writeToneFile(const std::string& path, int rate, int channels, double hz, double amplitude)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return sf_strerror(nullptr);
    std::vector<float> frames(static_cast<std::size_t>(rate * channels));  // one second
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i] = static_cast<float>(
            amplitude *
            std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i / static_cast<std::size_t>(channels)) / rate));
    sf_writef_float(file, frames.data(), rate);
    sf_close(file);
    return {};
}

TEST(FileSource, PlaysFilesOfAnyRateAndChannelCount)
{
    struct Case {
        int rate;
        int channels;
        double hz;
        int band;
    };
    ScratchDir dir;
    for (const Case& c : std::array<Case, 3>{{{44100, 2, 1400.0, 4}, {22050, 1, 1400.0, 4}, {48000, 2, 2800.0, 5}}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channels");
        const std::string path = dir / ("tone" + std::to_string(c.rate) + ".wav");
        ASSERT_EQ(writeToneFile(path, c.rate, c.channels, c.hz, 0.5), "");
        Capture capture;
        std::ostringstream log;
        ASSERT_TRUE(capture.install(("file:" + path).c_str(), log, "fixed")) << log.str();
        for (int channel : {0, 1})
            EXPECT_TRUE(waitUntil([&] {
                return isHalfScaleVu(capture.vu(channel), 300) && litBand(spectrumOf(capture, channel)) == c.band;
            })) << "channel "
                << channel << ": VU " << capture.vu(channel);
        // The file loops: a second later (past its one-second length) still sound.
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        EXPECT_TRUE(waitUntil([&] { return isHalfScaleVu(capture.vu(0), 300); }, std::chrono::seconds(2)))
            << "VU " << capture.vu(0);
    }
}

// Read system calls made by this process so far, all threads together.
std::uint64_t readCalls()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value)
        if (key == "syscr:")
            return value;
    ADD_FAILURE() << "no read count in /proc/self/io";
    return 0;
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file that gives nothing even from its start is finished: one line, then
// silence without touching the file again (retrying on every frame cost
// about 90 000 system calls a second).
TEST(FileSource, AFileTruncatedWhilePlayingGivesOneLineAndSilenceWithoutRetrying)
{
    ScratchDir dir;
    const std::string path = dir / "tone.wav";
    ASSERT_EQ(writeToneFile(path, 44100, 2, 1000.0, 0.5), "");
    const std::string logPath = dir / "log";
    std::ofstream log(logPath);
    SampleRing ring;
    std::array<float, kVuLength> samples{};
    const auto sound = [&] {
        return ring.readNewest(0, samples) &&
               std::any_of(samples.begin(), samples.end(), [](float s) { return s != 0.0f; });
    };
    {
        FileSource source(ring, path, log);
        std::string error;
        ASSERT_TRUE(source.start(error)) << error;
        ASSERT_TRUE(waitUntil(sound));
        std::filesystem::resize_file(path, 0);
        EXPECT_TRUE(waitUntil([&] { return !fileText(logPath).empty(); })) << "no word of the lost file";
        EXPECT_TRUE(waitUntil([&] { return !sound(); }));
        const std::uint64_t before = readCalls();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_LT(readCalls() - before, 20u) << "read calls in 300 ms of silence";
    }
    const std::string text = fileText(logPath);
    EXPECT_TRUE(text.starts_with("libVbVis10: ")) << text;
    EXPECT_NE(text.find(path), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

TEST(Capture, SourcesThatCannotBeOpenedAreRefusedWithOneLine)
{
    ScratchDir dir;
    const std::string text = dir / "notes.txt";
    std::ofstream(text) << "this is not a sound file, only some words\n";
    const std::string emptyWav = dir / "empty.wav";
    {
        SF_INFO info{0, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        sf_close(sf_open(emptyWav.c_str(), SFM_WRITE, &info));
    }
    // Absurd sample rates (every output frame would read 45 000 file
    // frames) and channel counts, a hundred frames each.
    for (const auto& [name, rate, channels] :
         {std::tuple{"fast.wav", 2'000'000'000, 2}, std::tuple{"slow.wav", 1, 2}, std::tuple{"wide.wav", 44100, 65}}) {
        SF_INFO info{0, rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        SNDFILE* file = sf_open((dir / name).c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr) << name;
        const std::vector<float> frames(static_cast<std::size_t>(100 * channels), 0.25f);
        sf_writef_float(file, frames.data(), 100);
        sf_close(file);
    }
    struct Case {
        std::string choice;
        std::string mentions;
        const char* sensitivity = nullptr;
    };
    const std::array<Case, 12> cases{{
        {"file:" + (dir / "missing.wav"), "missing.wav"},
        {"file:" + (dir / "fast.wav"), "sample rate of 2000000000 Hz is outside 1000 to 768000 Hz"},
        {"file:" + (dir / "slow.wav"), "sample rate of 1 Hz"},
        {"file:" + (dir / "wide.wav"), "65 channels are more than 64"},
        {"file:" + text, "notes.txt"},
        {"file:" + emptyWav, "no sound"},
        {"fifo:" + (dir / "missing.fifo"), "missing.fifo"},
        {"fifo:" + text, "not a named pipe"},
        {"pulse:", "LUMORA_SOURCE"},
        {"speakers", "LUMORA_SOURCE"},
        {"file:", "LUMORA_SOURCE"},
        {"demo", "LUMORA_SENSITIVITY=loud is not one of auto, fixed", "loud"},
    }};
    for (const Case& c : cases) {
        Capture capture;
        std::ostringstream log;
        EXPECT_FALSE(capture.install(c.choice.c_str(), log, c.sensitivity)) << c.choice;
        const std::string line = log.str();
        EXPECT_NE(line.find(c.mentions), std::string::npos) << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
        EXPECT_TRUE(line.starts_with("libVbVis10: ")) << line;
        EXPECT_EQ(capture.vu(0), 0);
        EXPECT_TRUE(allZero(spectrumOf(capture, 0)));
    }
}

TEST(Capture, ParsesTheSourceChoice)
{
    using Kind = SourceChoice::Kind;
    struct Case {
        const char* text;
        bool valid;
        Kind kind;
        std::string argument;
    };
    const std::array<Case, 9> cases{{
        {"", true, Kind::Auto, ""},
        {"auto", true, Kind::Auto, ""},
        {"pulse", true, Kind::Pulse, ""},
        {"pulse:alsa_output.monitor", true, Kind::Pulse, "alsa_output.monitor"},
        {"fifo:/tmp/mpd.fifo", true, Kind::Fifo, "/tmp/mpd.fifo"},
        {"file:/music/a:b.flac", true, Kind::File, "/music/a:b.flac"},
        {"demo", true, Kind::Demo, ""},
        {"Demo", false, Kind::Auto, ""},
        {"fifo:", false, Kind::Auto, ""},
    }};
    for (const Case& c : cases) {
        const auto choice = parseSourceChoice(c.text);
        ASSERT_EQ(choice.has_value(), c.valid) << c.text;
        if (choice) {
            EXPECT_EQ(choice->kind, c.kind) << c.text;
            EXPECT_EQ(choice->argument, c.argument) << c.text;
        }
    }
}

TEST(DemoSource, PlaysMovingStereoMusic)
{
    Capture capture;
    std::ostringstream log;
    ASSERT_TRUE(capture.install("demo", log));
    EXPECT_EQ(log.str(), "");
    ASSERT_TRUE(waitUntil([&] { return capture.vu(0) > 0 && capture.vu(1) > 0; }));
    // Looks 100 ms apart: the spectrum changes from one look to the next, and
    // left and right differ (the hi-hats and chords pan). Twenty of each
    // within at most 60 looks, so a look that a loaded machine's late
    // capture thread left unchanged does not fail the test; a frozen or
    // mono source never gets there.
    std::vector<int> previous = spectrumOf(capture, 0);
    int changes = 0;
    int stereoDifferences = 0;
    for (int look = 0; look < 60 && (changes < 20 || stereoDifferences < 20); ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto left = spectrumOf(capture, 0);
        changes += left != previous;
        stereoDifferences += left != spectrumOf(capture, 1);
        previous = left;
    }
    EXPECT_GE(changes, 20);
    EXPECT_GE(stereoDifferences, 20);
}

// Nobody asking for a second pauses every source; the next call resumes it.
// The fifo is still read meanwhile, so its writer never blocks.
TEST(Sources, PauseWhileNobodyAsksAndResumeOnTheNextCall)
{
    ScratchDir dir;
    const std::string pipe = dir / "music.fifo";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string file = dir / "tone.wav";
    ASSERT_EQ(writeToneFile(file, 44100, 2, 1000.0, 0.5), "");
    for (const std::string& choice : {std::string("demo"), "file:" + file, "fifo:" + pipe}) {
        SCOPED_TRACE(choice);
        Capture capture;
        std::ostringstream log;
        ASSERT_TRUE(capture.install(choice.c_str(), log)) << log.str();
        std::optional<PipeWriter> writer;
        if (choice.starts_with("fifo:"))
            writer.emplace(pipe, 1000.0, 16384, 16384);
        EXPECT_EQ(testing::pausesAndResumes(capture,
                                            [&]() -> std::string {
                                                if (!writer)
                                                    return {};
                                                const int before = writer->chunks();
                                                return testing::waitUntil(
                                                           [&] { return writer->chunks() - before >= 20; },
                                                           std::chrono::seconds(5))
                                                           ? ""
                                                           : "the writer blocked";
                                            }),
                  "");
    }
}

TEST(Capture, SecondInstallKeepsTheFirstSource)
{
    Capture capture;
    std::ostringstream log;
    ASSERT_TRUE(capture.install("demo", log));
    EXPECT_TRUE(capture.install("file:/does/not/exist.wav", log));
    EXPECT_EQ(log.str(), "");
}

}  // namespace
}  // namespace lumora::vbvis
