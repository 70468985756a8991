// SPDX-License-Identifier: GPL-3.0-or-later
// Costs of libVbVis10: the exported calls, the capture threads' CPU use and
// the delay from a sound entering the fifo source to its showing in the
// spectrum. The pulse cases need a running sound server (they report an
// error otherwise); the others need nothing.
#include "capture.h"
#include "demosignal.h"
#include "vbvis10.h"

#include <benchmark/benchmark.h>

#include <pulse/simple.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The exported calls, through the C ABI, on the live demo source.
void attachDemo()
{
    static const bool attached = [] {
        ::setenv("LUMORA_SOURCE", "demo", 1);
        const bool ok = vbvis_install_plugin() != 0;
        std::this_thread::sleep_for(100ms);
        return ok;
    }();
    if (!attached)
        std::abort();
}

void BM_SpectrumFillCall(benchmark::State& state)
{
    attachDemo();
    std::string text(2 * lumora::vbvis::kSpectrumValues + 1, ' ');
    for (auto _ : state) {
        vbvis_spectrum(static_cast<int32_t>(state.iterations() & 1), text.data(), static_cast<int32_t>(text.size()));
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_SpectrumFillCall)->Unit(benchmark::kMicrosecond);

void BM_SpectrumCountQuery(benchmark::State& state)
{
    attachDemo();
    char empty[1] = "";
    for (auto _ : state)
        benchmark::DoNotOptimize(vbvis_spectrum(0, empty, 0));
}
BENCHMARK(BM_SpectrumCountQuery)->Unit(benchmark::kMicrosecond);

void BM_Vu(benchmark::State& state)
{
    attachDemo();
    for (auto _ : state)
        benchmark::DoNotOptimize(vbvis_vu(static_cast<int32_t>(state.iterations() & 1)));
}
BENCHMARK(BM_Vu)->Unit(benchmark::kMicrosecond);

double processCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Plays the demo signal in real time from a child process, so that its CPU
// is not counted: into a pipe, or (empty path) to the sound server through
// a fresh copy of this program, since libpulse refuses to work after fork().
pid_t startPlayer(const std::string& pipePath)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    if (pipePath.empty()) {
        ::execl("/proc/self/exe", "vbvis10_bench", "--play-demo-to-pulse", static_cast<char*>(nullptr));
        ::_exit(1);
    }
    lumora::vbvis::DemoSignal signal;
    std::vector<int16_t> chunk(441 * 2);
    const int fd = ::open(pipePath.c_str(), O_WRONLY);
    for (auto next = Clock::now(); fd >= 0; next += 10ms) {
        signal.render(chunk);
        if (::write(fd, chunk.data(), chunk.size() * 2) < 0)
            break;
        std::this_thread::sleep_until(next);
    }
    ::_exit(0);
}

int playDemoToPulse()
{
    lumora::vbvis::DemoSignal signal;
    std::vector<int16_t> chunk(441 * 2);
    const pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 2};
    pa_simple* out =
        pa_simple_new(nullptr, "lumora-bench", PA_STREAM_PLAYBACK, nullptr, "demo", &spec, nullptr, nullptr, nullptr);
    while (out) {
        signal.render(chunk);
        if (pa_simple_write(out, chunk.data(), chunk.size() * 2, nullptr) < 0)
            break;
    }
    return 0;
}

// CPU use of the capture thread over 3 s of real time, in percent of one
// core. Asked: the benchmark's own thread asks for the VU every 100 ms, so
// the source captures as during a run (the call costs microseconds); not
// asked, the source pauses after a second, as while Lumora is idle.
void measureCaptureCpu(benchmark::State& state, const std::string& choice, bool music, bool asked)
{
    const auto dir = std::filesystem::temp_directory_path() / ("vbvis10-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string pipe = (dir / "music.fifo").string();
    ::mkfifo(pipe.c_str(), 0600);
    const std::string resolved = choice == "fifo" ? "fifo:" + pipe : choice;
    for (auto _ : state) {
        lumora::vbvis::Capture capture;
        std::ostringstream log;
        if (!capture.install(resolved.c_str(), log)) {
            state.SkipWithError(log.str().c_str());
            break;
        }
        const pid_t player = music ? startPlayer(choice == "fifo" ? pipe : std::string()) : -1;
        auto wait = [&](std::chrono::milliseconds duration) {
            for (const auto end = Clock::now() + duration; Clock::now() < end;) {
                if (asked)
                    capture.vu(0);
                std::this_thread::sleep_for(100ms);
            }
        };
        wait(1500ms);  // settle: connection, first fragments, the pause when not asked
        const double before = processCpuSeconds();
        const auto start = Clock::now();
        wait(3000ms);
        const double cpu = processCpuSeconds() - before;
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["cpu_percent"] = 100.0 * cpu / wall;
        state.counters["vu_left"] = capture.vu(0);
        if (player > 0) {
            ::kill(player, SIGKILL);
            ::waitpid(player, nullptr, 0);
        }
    }
    std::filesystem::remove_all(dir);
}

BENCHMARK_CAPTURE(measureCaptureCpu, demo, std::string("demo"), false, true)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(measureCaptureCpu, demo_paused, std::string("demo"), false, false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(measureCaptureCpu, fifo_idle, std::string("fifo"), false, true)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(measureCaptureCpu, fifo_music, std::string("fifo"), true, true)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(measureCaptureCpu, fifo_music_paused, std::string("fifo"), true, false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(measureCaptureCpu, pulse_idle, std::string("pulse"), false, true)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(measureCaptureCpu, pulse_music, std::string("pulse"), true, true)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(measureCaptureCpu, pulse_music_paused, std::string("pulse"), true, false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// From a 1 kHz tone's first frame written into the pipe (after silence) to
// the first spectrum whose bin 26 shows it (above 128), polled every 200 us.
// Also until the bin has settled within 3 of its steady value (the tone
// fills the 26 ms window). Mean and worst of 20 tones, in milliseconds.
void BM_FifoLatency(benchmark::State& state)
{
    const auto dir = std::filesystem::temp_directory_path() / ("vbvis10-latency-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string pipe = (dir / "music.fifo").string();
    ::mkfifo(pipe.c_str(), 0600);
    lumora::vbvis::Capture capture;
    std::ostringstream log;
    if (!capture.install(("fifo:" + pipe).c_str(), log)) {
        state.SkipWithError(log.str().c_str());
        return;
    }
    std::atomic<bool> toneOn{false};
    std::atomic<Clock::rep> toneStart{0};
    std::jthread writer([&](std::stop_token stop) {
        const int fd = ::open(pipe.c_str(), O_WRONLY);
        std::int64_t frame = 0;
        std::vector<int16_t> chunk(2 * 441);
        bool wasOn = false;
        for (auto next = Clock::now(); !stop.stop_requested(); next += 10ms) {
            const bool on = toneOn.load();
            for (std::size_t i = 0; i < 441; ++i, ++frame) {
                const double s =
                    on ? 16384.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / 44100.0)
                       : 0.0;
                chunk[2 * i] = chunk[2 * i + 1] = static_cast<int16_t>(std::lround(s));
            }
            if (on && !wasOn)
                toneStart = Clock::now().time_since_epoch().count();
            if (::write(fd, chunk.data(), chunk.size() * 2) < 0)
                break;
            wasOn = on;
            std::this_thread::sleep_until(next);
        }
        ::close(fd);
    });
    std::string text(2 * lumora::vbvis::kSpectrumValues + 1, ' ');
    auto bin26 = [&] {
        capture.spectrum(0, text.data(), static_cast<int32_t>(text.size()));
        return std::stoi(text.substr(52, 2), nullptr, 16);
    };
    std::vector<double> shown;    // ms until bin 26 passes 128
    std::vector<double> settled;  // ms until it is within 3 of its steady value
    for (auto _ : state) {
        for (int tone = 0; tone < 20; ++tone) {
            toneOn = false;
            while (bin26() != 0)
                std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(std::chrono::milliseconds(50 + tone * 3));  // vary the phase against the writes
            toneStart = 0;
            toneOn = true;
            // Follow bin 26 for 150 ms after the tone has shown.
            std::vector<std::pair<Clock::time_point, int>> trace;
            const auto deadline = Clock::now() + 2s;
            while (Clock::now() < deadline) {
                const int value = bin26();
                trace.emplace_back(Clock::now(), value);
                if (value > 128 && Clock::now() - trace.front().first > 150ms)
                    break;
                std::this_thread::sleep_for(200us);
            }
            const Clock::time_point started{Clock::duration(toneStart.load())};
            if (toneStart.load() == 0 || trace.back().second <= 128)
                continue;
            const int steady = trace.back().second;
            auto firstAtLeast = [&](int level) {
                const auto hit =
                    std::find_if(trace.begin(), trace.end(), [&](const auto& p) { return p.second >= level; });
                return std::chrono::duration<double, std::milli>(hit->first - started).count();
            };
            shown.push_back(firstAtLeast(129));
            settled.push_back(firstAtLeast(steady - 3));
        }
    }
    writer.request_stop();
    writer.join();
    std::filesystem::remove_all(dir);
    if (shown.empty()) {
        state.SkipWithError("no tone was seen");
        return;
    }
    auto mean = [](const std::vector<double>& v) {
        double sum = 0;
        for (double d : v)
            sum += d;
        return sum / static_cast<double>(v.size());
    };
    state.counters["shown_mean_ms"] = mean(shown);
    state.counters["shown_max_ms"] = *std::max_element(shown.begin(), shown.end());
    state.counters["settled_mean_ms"] = mean(settled);
    state.counters["settled_max_ms"] = *std::max_element(settled.begin(), settled.end());
    state.counters["tones"] = static_cast<double>(shown.size());
}
BENCHMARK(BM_FifoLatency)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--play-demo-to-pulse")
        return playDemoToPulse();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
