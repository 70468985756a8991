// SPDX-License-Identifier: GPL-3.0-or-later
// Streaming runs: cycles per second, compared with what the 57600-baud
// line allows (84 bytes at 5760 bytes/s = 14.58 ms, 68.6 cycles per
// second), and the window thread's CPU in percent of one core. The
// argument is the output buffer in bytes. Each run lasts LUMORA_BENCH_SECONDS
// (default 3) and ends with Stop and the blanking.
//
// The run goes into a pseudo-terminal of its own, drained by a reader
// thread that counts the bytes (bytes_lost: sent but never read), or into
// the device LUMORA_BENCH_PORT names (lumora-display's pty). With
// LUMORA_BENCH_REAL_PORT=1 its own pty behaves as a real serial port
// (libfakeuart.so), so the run takes the real-port path.
//
//   build-release/bin/run_bench
//   QT_QPA_PLATFORM=xcb build-release/bin/run_bench     on an X server
#include "fakeuart.h"
#include "frmmain.h"
#include "pty.h"
#include "serialline.h"
#include "testbridge.h"
#include "wireformat.h"

#include <QPushButton>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <optional>
#include <thread>

#include <sys/resource.h>

namespace {

double cpuSeconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_StreamingRunOnPty(benchmark::State& state)
{
    lumora::testing::TestBridge lib;
    lib.setCount(576);
    lib.setSpectrumText(0, std::string(1152, '8'));
    lib.setSpectrumText(1, std::string(1152, '4'));

    const QString ownPort = qEnvironmentVariable("LUMORA_BENCH_PORT");
    std::optional<lumora::testing::Pty> pty;
    std::optional<lumora::testing::PtyReader> reader;
    const bool realPort = ownPort.isEmpty() && qEnvironmentVariableIntValue("LUMORA_BENCH_REAL_PORT") == 1;
    if (ownPort.isEmpty()) {
        pty.emplace();
        reader.emplace(pty->master());
        if (realPort)
            lumora::fakeuart::attach(pty->slave());
    }
    lumora::FrmMain frm;
    frm.MSComm1->setPortOneDevice(ownPort.isEmpty() ? QString::fromStdString(pty->slave()) : ownPort);
    frm.MSComm1->setOutputBufferBytes(static_cast<int>(state.range(0)));
    frm.Form_Load();
    frm.show();

    const auto runFor = std::chrono::seconds(qEnvironmentVariableIntValue("LUMORA_BENCH_SECONDS"));
    double cycles = 0;
    double seconds = 0;
    double threadCpu = 0;
    double processCpu = 0;
    for (auto _ : state) {
        lib.clearCalls();
        const auto start = std::chrono::steady_clock::now();
        const double threadBefore = cpuSeconds(RUSAGE_THREAD);
        const double processBefore = cpuSeconds(RUSAGE_SELF);
        QTimer::singleShot(runFor.count() > 0 ? runFor : std::chrono::seconds(3), frm.Command2, &QPushButton::click);
        frm.Command1->click();
        threadCpu += cpuSeconds(RUSAGE_THREAD) - threadBefore;
        processCpu += cpuSeconds(RUSAGE_SELF) - processBefore;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cycles += static_cast<double>(lib.calls().size()) / 6;  // six bridge calls per cycle
    }
    // CPU during the run, in percent of one core: the window thread's (the
    // yields, the cycles' work, the waits for the line) and the whole
    // process's (with Qt's X connection thread, and the reader thread when
    // the bench reads its own pty).
    state.counters["cpu_percent"] = 100.0 * threadCpu / seconds;
    state.counters["process_cpu_percent"] = 100.0 * processCpu / seconds;
    // The blanking sequence takes its own time after Stop; count the whole
    // run. A real port's run begins with the reset filler: its line time is
    // no cycle's.
    const double fillerBytes = realPort ? lumora::wire::kResetFillerBytes * static_cast<double>(state.iterations()) : 0;
    const double cycleSeconds = seconds - fillerBytes / lumora::wire::kLineBytesPerSecond;
    state.counters["cycles_per_s"] = cycles / cycleSeconds;
    state.counters["line_limit_ratio"] =
        cycles / cycleSeconds / (double(lumora::wire::kLineBytesPerSecond) / lumora::wire::kCycleBytes);
    state.counters["cycles"] = cycles;
    if (reader) {
        // The filler, every cycle and one blanking per run, once the reader
        // has them.
        const auto sent = static_cast<std::size_t>(fillerBytes) +
                          static_cast<std::size_t>(cycles + static_cast<double>(state.iterations())) *
                              lumora::wire::kCycleBytes;
        for (int i = 0; i < 200 && reader->count() < sent; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        state.counters["bytes_lost"] = static_cast<double>(sent) - static_cast<double>(reader->count());
    }
}
BENCHMARK(BM_StreamingRunOnPty)
    ->Arg(lumora::wire::kOutputBufferBytes)
    ->Arg(lumora::wire::kSmallestOutputBufferBytes)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
