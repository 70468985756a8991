// SPDX-License-Identifier: GPL-3.0-or-later
// How long the lamps trail the music: from a tone entering a real-time fifo
// source of the real libVbVis10 to the first lamp byte that shows it,
// as a display's UART has it from a pseudo-terminal that Lumora's serial
// line feeds at the line rate (5760 bytes per second). Lumora's own window (offscreen) runs the
// streaming run, with the output buffer set to the benchmark's argument.
//
// A writer thread plays silence into the fifo in 10 ms chunks, in real
// time, and now and then a 1 kHz sine burst at -6 dBFS for 300 ms. A
// burst's start is the moment its first chunk is written. The reader
// thread stamps every byte with its time on the line; the first non-zero
// lamp byte (bytes 0..63 of a cycle) after a burst's start shows the
// burst: the silence before it leaves every lamp byte 0. Reported: the median, p90 and
// largest of those delays in milliseconds, the cycles per second over the
// bursts (the line allows 68.6), and how often the line fell silent for
// more than 10 ms (the shortest silence at which lumora-display starts a
// new cycle): the program fell behind the line for that long.
//
//   build-release/bin/latency_bench                 all four buffers
//   build-release/bin/latency_bench --benchmark_filter=/84
#include "frmmain.h"
#include "pty.h"
#include "receivedline.h"
#include "serialline.h"
#include "wireformat.h"

#include <QCoreApplication>
#include <QPushButton>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace wire = lumora::wire;

constexpr int kBursts = 15;
constexpr auto kChunk = 10ms;
constexpr std::size_t kChunkFrames = 441;  // 10 ms at 44100 Hz
constexpr double kToneHz = 1000.0;
constexpr double kToneAmplitude = 16384.0;  // -6 dBFS
constexpr auto kTone = 300ms;
// Silence between bursts: long enough for the four steps of lamp history to
// go dark; varied so that bursts start at every phase of a cycle.
constexpr auto kSilence = 500ms;
constexpr int kSilenceStepMs = 37;
constexpr auto kWarmUp = 1s;
constexpr auto kLongSilence = 10ms;

// Plays silence or the tone into the fifo, in real time, until stopped.
class FifoPlayer {
public:
    explicit FifoPlayer(const std::string& path)
        : m_thread([this, path](std::stop_token stop) { play(path, stop); }) { }

    void setTone(bool on) { m_toneOn = on; }
    // Start times of the bursts so far.
    std::vector<Clock::time_point> starts()
    {
        std::lock_guard lock(m_mutex);
        return m_starts;
    }
    void clearStarts()
    {
        std::lock_guard lock(m_mutex);
        m_starts.clear();
    }

private:
    void play(const std::string& path, const std::stop_token& stop)
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        std::vector<std::int16_t> chunk(2 * kChunkFrames);
        std::int64_t frame = 0;
        bool wasOn = false;
        for (auto next = Clock::now(); !stop.stop_requested(); next += kChunk) {
            const bool on = m_toneOn;
            if (on && !wasOn)
                frame = 0;  // every burst starts at the same phase
            for (std::size_t i = 0; i < kChunkFrames; ++i, ++frame) {
                const double t = static_cast<double>(frame) / 44100.0;
                const double s = on ? kToneAmplitude * std::sin(2.0 * std::numbers::pi * kToneHz * t) : 0.0;
                chunk[2 * i] = chunk[2 * i + 1] = static_cast<std::int16_t>(std::lround(s));
            }
            const auto writtenAt = Clock::now();
            if (::write(fd, chunk.data(), chunk.size() * sizeof(std::int16_t)) < 0)
                break;
            if (on && !wasOn) {
                std::lock_guard lock(m_mutex);
                m_starts.push_back(writtenAt);
            }
            wasOn = on;
            std::this_thread::sleep_until(next);
        }
        ::close(fd);
    }

    std::atomic<bool> m_toneOn{false};
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_starts;
    std::jthread m_thread;
};

struct Arrival {
    Clock::time_point at;
    std::uint8_t byte;
};

// Reads the pty master on its own thread and stamps every byte with the
// time a display's UART has it: Lumora hands a pty its bytes up to 30 ms
// ahead of the line, as a driver's queue holds them, and a reader's chunks
// come early or late; ReceivedLine puts each byte back on the line.
class StampingReader {
public:
    explicit StampingReader(int master) : m_master(master), m_thread([this](std::stop_token s) { read(s); }) { }

    std::vector<Arrival> arrivals()
    {
        std::lock_guard lock(m_mutex);
        return m_arrivals;
    }

private:
    void read(const std::stop_token& stop)
    {
        std::uint8_t buffer[4096];
        lumora::wire::ReceivedLine line;
        while (!stop.stop_requested()) {
            pollfd fd{m_master, POLLIN, 0};
            if (::poll(&fd, 1, 5) <= 0)
                continue;
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            const auto at = Clock::now();
            if (n <= 0) {
                std::this_thread::sleep_for(1ms);  // the slave is closed between runs
                continue;
            }
            const auto first = line.place(at.time_since_epoch(), static_cast<std::size_t>(n)).firstByte;
            std::lock_guard lock(m_mutex);
            for (ssize_t i = 0; i < n; ++i) {
                const auto begins = lumora::wire::ReceivedLine::byteBegins(first, static_cast<std::size_t>(i));
                m_arrivals.push_back(
                    {Clock::time_point(std::chrono::duration_cast<Clock::duration>(begins)), buffer[i]});
            }
        }
    }

    int m_master;
    std::mutex m_mutex;
    std::vector<Arrival> m_arrivals;
    std::jthread m_thread;
};

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const double rank = p * static_cast<double>(values.size() - 1);
    const auto low = static_cast<std::size_t>(std::floor(rank));
    const auto high = static_cast<std::size_t>(std::ceil(rank));
    return values[low] + (values[high] - values[low]) * (rank - static_cast<double>(low));
}

// One window, one fifo source and one pty for the whole program: the
// library attaches its source once per process.
struct Rig {
    std::filesystem::path directory;
    std::string fifo;
    lumora::testing::Pty pty;
    std::unique_ptr<lumora::FrmMain> window;
    std::unique_ptr<FifoPlayer> player;
    std::unique_ptr<StampingReader> reader;
    std::string error;

    Rig()
    {
        directory = std::filesystem::temp_directory_path() / ("lumora-latency-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        fifo = (directory / "music.fifo").string();
        if (::mkfifo(fifo.c_str(), 0600) != 0) {
            error = "mkfifo failed";
            return;
        }
        ::setenv("LUMORA_SOURCE", ("fifo:" + fifo).c_str(), 1);
        window = std::make_unique<lumora::FrmMain>();
        window->MSComm1->setPortOneDevice(QString::fromStdString(pty.slave()));
        if (!window->Form_Load()) {
            error = "the library did not attach the fifo source";
            return;
        }
        window->show();
        player = std::make_unique<FifoPlayer>(fifo);
        reader = std::make_unique<StampingReader>(pty.master());
    }
    ~Rig()
    {
        player.reset();
        reader.reset();
        window.reset();
        std::filesystem::remove_all(directory);
    }
};

Rig* g_rig = nullptr;

Rig& rig()
{
    if (!g_rig) {
        g_rig = new Rig;
        // The window goes while the application still exists.
        qAddPostRoutine([] {
            delete g_rig;
            g_rig = nullptr;
        });
    }
    return *g_rig;
}

void BM_ToneToLampLatency(benchmark::State& state)
{
    Rig& r = rig();
    if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
    }
    const int buffer = static_cast<int>(state.range(0));
    r.window->MSComm1->setOutputBufferBytes(buffer);

    for (auto _ : state) {
        r.player->setTone(false);
        r.player->clearStarts();
        const std::size_t firstByte = r.reader->arrivals().size();
        Clock::time_point measuredFrom;
        Clock::time_point measuredTo;
        // The bursts run on their own thread while the run holds this one.
        std::jthread conductor([&] {
            std::this_thread::sleep_for(kWarmUp);
            measuredFrom = Clock::now();
            for (int burst = 0; burst < kBursts; ++burst) {
                std::this_thread::sleep_for(kSilence + std::chrono::milliseconds(kSilenceStepMs * burst % 200));
                r.player->setTone(true);
                std::this_thread::sleep_for(kTone);
                r.player->setTone(false);
            }
            std::this_thread::sleep_for(kSilence);
            measuredTo = Clock::now();
            QMetaObject::invokeMethod(
                r.window->Command2, [&] { r.window->Command2->click(); }, Qt::QueuedConnection);
        });
        r.window->Command1->click();  // returns after Stop, the blanking and the close
        conductor.join();
        std::this_thread::sleep_for(200ms);  // the reader takes the last bytes

        const auto arrivals = r.reader->arrivals();
        const auto starts = r.player->starts();
        std::vector<double> delays;
        std::size_t cycleBytes = 0;
        int silences = 0;
        for (std::size_t i = firstByte; i < arrivals.size(); ++i) {
            if (arrivals[i].at >= measuredFrom && arrivals[i].at < measuredTo) {
                ++cycleBytes;
                if (i > firstByte && arrivals[i].at - arrivals[i - 1].at > kLongSilence)
                    ++silences;
            }
        }
        for (const auto start : starts) {
            // Byte offsets count from the first byte of the first run; every
            // run sends whole cycles and an 84-byte blanking sequence.
            for (std::size_t i = firstByte; i < arrivals.size(); ++i) {
                const bool lamp = i % wire::kCycleBytes < static_cast<std::size_t>(wire::kLampBytes);
                if (arrivals[i].at >= start && lamp && arrivals[i].byte != 0) {
                    delays.push_back(std::chrono::duration<double, std::milli>(arrivals[i].at - start).count());
                    break;
                }
            }
        }
        if (delays.size() < static_cast<std::size_t>(kBursts)) {
            state.SkipWithError("a burst never lit a lamp");
            return;
        }
        state.counters["median_ms"] = percentile(delays, 0.5);
        state.counters["p90_ms"] = percentile(delays, 0.9);
        state.counters["min_ms"] = percentile(delays, 0.0);
        state.counters["max_ms"] = percentile(delays, 1.0);
        state.counters["bursts"] = static_cast<double>(delays.size());
        state.counters["silences_over_10ms"] = silences;
        state.counters["cycles_per_s"] = static_cast<double>(cycleBytes) / wire::kCycleBytes /
                                         std::chrono::duration<double>(measuredTo - measuredFrom).count();
    }
}
BENCHMARK(BM_ToneToLampLatency)
    ->Arg(wire::kOutputBufferBytes)
    ->Arg(256)
    ->Arg(168)
    ->Arg(wire::kSmallestOutputBufferBytes)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
