// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture.h"
#include "pulsesource.h"
#include "testsignals.h"

#include <gtest/gtest.h>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace lumora::vbvis {
namespace {

using namespace lumora::vbvis::testing;

// A private sound server with one null sink, "lumora_test", whose monitor
// is the default monitor: PulseAudio, or PipeWire with pipewire-pulse and
// WirePlumber on a session bus of its own (the desktop default of Debian
// 12, which hands sound over the socket rather than shared memory). It
// runs in a private runtime and home directory (also as root, headless),
// and the test process's environment points libpulse at it.
class PulseDaemon {
public:
    enum class Kind { PulseAudio, PipeWire };

    explicit PulseDaemon(Kind kind = Kind::PulseAudio) : m_kind(kind)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vbvis10-pulse-XXXXXX").string();
        m_root = ::mkdtemp(pattern.data());
        std::filesystem::create_directories(m_root / "run");
        std::filesystem::create_directories(m_root / "home");
        std::filesystem::permissions(m_root / "run", std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        ::setenv("XDG_RUNTIME_DIR", (m_root / "run").c_str(), 1);
        ::setenv("HOME", (m_root / "home").c_str(), 1);
        ::unsetenv("PULSE_SERVER");
        ::unsetenv("PULSE_SINK");
        ::unsetenv("PULSE_SOURCE");
    }
    ~PulseDaemon()
    {
        stop();
        // A server's last process may still be taking its socket away: a
        // file that vanishes under remove_all() is no failure.
        std::error_code error;
        for (int attempt = 0; attempt < 3 && std::filesystem::remove_all(m_root, error) == static_cast<std::uintmax_t>(-1);
             ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    // Starts the daemon and waits until it takes connections; false with
    // its log when it cannot start.
    bool start()
    {
        const std::string log = (m_root / "daemon.log").string();
        std::vector<std::string> args{"pulseaudio",
                                      "-n",
                                      "--daemonize=no",
                                      "--exit-idle-time=-1",
                                      "--system=false",
                                      "--use-pid-file=no",
                                      "--log-target=file:" + log,
                                      "-L",
                                      "module-native-protocol-unix",
                                      "-L",
                                      "module-null-sink sink_name=lumora_test"};
        if (m_kind == Kind::PipeWire)
            args = {"dbus-run-session", "--", "sh", "-c",
                    "exec >'" + log + "' 2>&1; pipewire & sleep 0.5; wireplumber & pipewire-pulse & wait"};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        // A group of its own, so that kill() ends every process of it.
        posix_spawnattr_t attributes;
        ::posix_spawnattr_init(&attributes);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        ::posix_spawnattr_setpgroup(&attributes, 0);
        const int spawned = ::posix_spawnp(&m_pid, argv[0], nullptr, &attributes, argv.data(), environ);
        ::posix_spawnattr_destroy(&attributes);
        if (spawned != 0) {
            m_pid = -1;
            return false;
        }
        const bool answers = waitUntil([] {
            int error = 0;
            const pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 2};
            pa_simple* probe = pa_simple_new(nullptr, "lumora-test-probe", PA_STREAM_PLAYBACK, nullptr, "probe", &spec,
                                             nullptr, nullptr, &error);
            if (probe)
                pa_simple_free(probe);
            return probe != nullptr;
        });
        if (!answers || m_kind == Kind::PulseAudio)
            return answers;
        return pactl("load-module module-null-sink sink_name=lumora_test") &&
               waitUntil([this] { return pactl("set-default-sink lumora_test"); });
    }

    // Ends the daemon at once, as a crash or a logout would.
    void kill()
    {
        if (m_pid > 0) {
            ::kill(-m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

    // Asks every process of the group to end and waits, up to 2 s, until
    // none is left: PipeWire's leader is dbus-run-session, which may be
    // gone before the servers it started.
    void stop()
    {
        if (m_pid > 0) {
            ::kill(-m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
            waitUntil([this] { return ::kill(-m_pid, 0) != 0; }, std::chrono::seconds(2));
            m_pid = -1;
        }
    }

    std::string log() const
    {
        std::ifstream in(m_root / "daemon.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Runs pactl against this daemon; true when it succeeds.
    bool pactl(const std::string& arguments) const
    {
        return std::system(("pactl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
    }

private:
    Kind m_kind;
    std::filesystem::path m_root;
    pid_t m_pid = -1;
};

// Plays a tone (or silence) into a sink on its own thread until destroyed
// or until the daemon goes away.
class Player {
public:
    Player(double hz, double left, double right, const char* sink = nullptr)
        : m_thread([=](std::stop_token stop) {
              const pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 2};
              pa_buffer_attr attr{};
              attr.maxlength = static_cast<uint32_t>(-1);
              attr.tlength = 44100 * 4 / 20;  // 50 ms ahead
              attr.prebuf = attr.minreq = attr.fragsize = static_cast<uint32_t>(-1);
              int error = 0;
              pa_simple* stream = pa_simple_new(nullptr, "lumora-test", PA_STREAM_PLAYBACK, sink, "tone", &spec,
                                                nullptr, &attr, &error);
              if (!stream)
                  return;
              std::int64_t frame = 0;
              while (!stop.stop_requested()) {
                  const auto chunk = sineFrames(hz, left, right, 441, frame);
                  frame += 441;
                  if (pa_simple_write(stream, chunk.data(), chunk.size() * 2, &error) < 0)
                      break;
              }
              pa_simple_free(stream);
          })
    {
    }

private:
    std::jthread m_thread;
};

template <PulseDaemon::Kind kind> class SoundServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_daemon = new PulseDaemon(kind);
        s_started = s_daemon->start();
    }
    static void TearDownTestSuite()
    {
        delete s_daemon;
        s_daemon = nullptr;
    }
    void SetUp() override
    {
        // No daemon is a broken test machine, not a reason to skip.
        ASSERT_TRUE(s_started) << "the test sound server did not start:\n" << s_daemon->log();
    }

    static inline PulseDaemon* s_daemon = nullptr;
    static inline bool s_started = false;
};

using PulseCapture = SoundServerTest<PulseDaemon::Kind::PulseAudio>;
using PipeWireCapture = SoundServerTest<PulseDaemon::Kind::PipeWire>;

TEST_F(PulseCapture, TonesLightTheirBandsAndChannels)
{
    Capture capture;
    std::ostringstream log;
    ASSERT_TRUE(capture.install("pulse", log, "fixed")) << log.str();
    struct Case {
        double hz;
        double left;
        double right;
        int band;
    };
    for (const Case& c :
         std::array<Case, 3>{{{1400.0, 16384, 16384, 4}, {11000.0, 16384, 16384, 7}, {1400.0, 16384, 0, 4}}}) {
        SCOPED_TRACE(std::to_string(c.hz) + " Hz, left " + std::to_string(c.left) + ", right " +
                     std::to_string(c.right));
        Player player(c.hz, c.left, c.right);
        // The first read from an idle monitor can take about two seconds, and
        // the newest 1024 samples hold the end of the previous case until the
        // new tone has filled them, so each expectation waits with a bound.
        EXPECT_TRUE(waitUntil([&] {
            return litBand(spectrumOf(capture, 0)) == c.band && std::abs(capture.vu(0) - 11585) <= 300;
        })) << "VU "
            << capture.vu(0);
        if (c.right > 0)
            EXPECT_TRUE(waitUntil([&] { return litBand(spectrumOf(capture, 1)) == c.band; }));
        else
            EXPECT_TRUE(waitUntil([&] { return capture.vu(1) == 0 && allZero(spectrumOf(capture, 1)); }))
                << "right VU " << capture.vu(1);
    }
}

// The sink's volume is applied before its monitor: at 10 % the tone comes
// in 60 dB quieter, and the automatic sensitivity brings its lamps back.
TEST_F(PulseCapture, LampsStayLitWhenTheVolumeDropsToTenPercent)
{
    Capture capture;
    std::ostringstream log;
    ASSERT_TRUE(capture.install("pulse", log)) << log.str();
    Player player(1400.0, 16384, 16384);
    const auto band4 = [&] {
        const auto values = spectrumOf(capture, 0);
        return bandLevels(std::vector<uint8_t>(values.begin(), values.end()))[4];
    };
    ASSERT_TRUE(waitUntil([&] { return band4() >= 5; })) << "band 4 at " << band4();
    ASSERT_TRUE(s_daemon->pactl("set-sink-volume lumora_test 10%"));
    const bool dimmed = waitUntil([&] { return band4() == 0; }, std::chrono::seconds(3));
    const bool back = waitUntil([&] { return band4() >= 5; });
    EXPECT_TRUE(s_daemon->pactl("set-sink-volume lumora_test 100%"));
    EXPECT_TRUE(dimmed) << "the volume never reached the monitor";
    EXPECT_TRUE(back) << "band 4 at " << band4();
}

TEST_F(PulseCapture, SilenceGivesZeros)
{
    Capture capture;
    std::ostringstream log;
    ASSERT_TRUE(capture.install("pulse", log)) << log.str();
    {
        Player tone(1000.0, 16384, 16384);
        ASSERT_TRUE(waitUntil([&] { return capture.vu(0) > 11000; }));
    }
    Player silence(1000.0, 0, 0);
    // The spectrum looks at more samples than the VU: both are waited for.
    EXPECT_TRUE(waitUntil([&] {
        return capture.vu(0) == 0 && capture.vu(1) == 0 && allZero(spectrumOf(capture, 0)) &&
               allZero(spectrumOf(capture, 1));
    })) << "VU "
        << capture.vu(0) << " " << capture.vu(1);
}

// Nobody asking for a second corks the stream; the next call uncorks it.
TEST_F(PulseCapture, PausesWhileNobodyAsksAndResumesOnTheNextCall)
{
    Capture capture;
    std::ostringstream log;
    ASSERT_TRUE(capture.install("pulse", log)) << log.str();
    Player player(1000.0, 16384, 16384);
    EXPECT_EQ(testing::pausesAndResumes(capture), "");
}

// Voluntary context switches of the process's thread with this name; -1
// when there is none.
long wakeUpsOf(const std::string& name)
{
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string found;
        if (!std::getline(comm, found) || found != name)
            continue;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                return std::stol(line.substr(line.find(':') + 1));
    }
    return -1;
}

// The server sends a fragment every 10 ms; while a call comes every cycle
// the calls take them in, all of them, and the capture thread stays asleep.
void expectCallsTakeTheSoundInWhileTheCaptureThreadSleeps()
{
    Capture capture;
    std::ostringstream log;
    ASSERT_TRUE(capture.install("pulse", log)) << log.str();
    Player player(1000.0, 16384, 16384);
    ASSERT_TRUE(waitUntil([&] { return capture.vu(0) > 11000; }));
    const long before = wakeUpsOf("vbvis-pulse");
    ASSERT_GE(before, 0) << "no capture thread";
    const std::uint64_t framesBefore = capture.ring().framesWritten();
    const auto begin = std::chrono::steady_clock::now();
    int silent = 0;                             // the ring reads as silence 250 ms after its last fragment
    for (int cycle = 0; cycle < 70; ++cycle) {  // a second of the line's cycles
        std::this_thread::sleep_for(std::chrono::microseconds(14583));
        silent += capture.vu(0) < 11000;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(silent, 0);
    // All of the sound, not a fragment a call with the rest left behind.
    EXPECT_GE(static_cast<double>(capture.ring().framesWritten() - framesBefore), (elapsed.count() - 0.1) * 44100);
    EXPECT_LE(wakeUpsOf("vbvis-pulse") - before, 10);
}

TEST_F(PulseCapture, CallsTakeTheSoundInWhileTheCaptureThreadSleeps)
{
    expectCallsTakeTheSoundInWhileTheCaptureThreadSleeps();
}

// PipeWire's pulse server hands the sound over the socket, a header and a
// fragment at a time.
TEST_F(PipeWireCapture, CallsTakeTheSoundInWhileTheCaptureThreadSleeps)
{
    expectCallsTakeTheSoundInWhileTheCaptureThreadSleeps();
}

// Calls further apart than the hand-back each find the capture thread
// waiting in its poll, so none of them runs the loop: the thread itself
// must resume the paused stream.
TEST_F(PulseCapture, SlowCallsResumeAPausedStream)
{
    Capture capture;
    std::ostringstream log;
    ASSERT_TRUE(capture.install("pulse", log)) << log.str();
    Player player(1000.0, 16384, 16384);
    ASSERT_TRUE(waitUntil([&] { return capture.vu(0) > 11000; }));
    std::array<float, 64> peek{};
    ASSERT_TRUE(waitUntil([&] { return !capture.ring().readNewest(0, peek); }, std::chrono::seconds(3)))
        << "the source did not pause";
    bool heard = false;
    for (int call = 0; call < 12 && !heard; ++call) {
        std::this_thread::sleep_for(PulseSource::kHandBack + std::chrono::milliseconds(50));
        heard = capture.vu(0) > 11000;
    }
    EXPECT_TRUE(heard);
}

TEST_F(PulseCapture, NamedSourcesAreRecordedOrRefused)
{
    Capture named;
    std::ostringstream log;
    ASSERT_TRUE(named.install("pulse:lumora_test.monitor", log)) << log.str();
    Player player(11000.0, 16384, 16384);
    EXPECT_TRUE(waitUntil([&] { return litBand(spectrumOf(named, 1)) == 7; }));

    Capture missing;
    EXPECT_FALSE(missing.install("pulse:no_such_source", log));
    EXPECT_NE(log.str().find("no_such_source"), std::string::npos) << log.str();
}

TEST_F(PulseCapture, FollowsTheDefaultOutput)
{
    Capture capture;
    std::ostringstream log;
    ASSERT_TRUE(capture.install("pulse", log)) << log.str();
    ASSERT_TRUE(s_daemon->pactl("load-module module-null-sink sink_name=lumora_other"));
    ASSERT_TRUE(s_daemon->pactl("set-default-sink lumora_other"));
    {
        // Played on the new default output only.
        Player player(11000.0, 16384, 16384, "lumora_other");
        EXPECT_TRUE(waitUntil([&] { return litBand(spectrumOf(capture, 0)) == 7 && capture.vu(0) > 11000; }));
    }
    EXPECT_TRUE(s_daemon->pactl("set-default-sink lumora_test"));
}

TEST_F(PulseCapture, ServerLossGivesZerosThenReconnects)
{
    Capture capture;
    std::ostringstream log;
    ASSERT_TRUE(capture.install("pulse", log)) << log.str();
    {
        Player player(1000.0, 16384, 16384);
        ASSERT_TRUE(waitUntil([&] { return capture.vu(0) > 11000; }));
        s_daemon->kill();
        EXPECT_TRUE(
            waitUntil([&] { return capture.vu(0) == 0 && capture.vu(1) == 0 && allZero(spectrumOf(capture, 0)); }));
    }
    ASSERT_TRUE(s_daemon->start()) << s_daemon->log();
    Player player(11000.0, 16384, 16384);
    EXPECT_TRUE(waitUntil([&] { return litBand(spectrumOf(capture, 0)) == 7 && capture.vu(0) > 11000; },
                          std::chrono::seconds(15)));
}

TEST_F(PulseCapture, NoServerMeansRefusalForPulseAndTheDemoForAuto)
{
    s_daemon->stop();
    struct Case {
        const char* choice;
        bool attached;
        std::string says;
    };
    for (const Case& c : std::array<Case, 2>{{{"pulse", false, "sound server"}, {"auto", true, "demo"}}}) {
        Capture capture;
        std::ostringstream log;
        EXPECT_EQ(capture.install(c.choice, log), c.attached) << c.choice;
        EXPECT_NE(log.str().find(c.says), std::string::npos) << log.str();
        const std::string said = log.str();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
    s_started = s_daemon->start();
}

}  // namespace
}  // namespace lumora::vbvis
