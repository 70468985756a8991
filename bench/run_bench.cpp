// SPDX-License-Identifier: GPL-3.0-or-later
// Streaming runs into a pseudo-terminal drained by a reader thread: cycles
// per second, compared with what the 57600-baud line allows (84 bytes at
// 5760 bytes/s = 14.58 ms, 68.6 cycles per second). Each run lasts the
// benchmark's --seconds (default 3) and ends with Stop and the blanking.
// Also the window thread's CPU during the run; compare Qt's event
// dispatchers with QT_NO_GLIB=1 (the unix one) against the default (glib).
//
//   build-release/bin/run_bench
#include "frmmain.h"
#include "pty.h"
#include "testbridge.h"
#include "wireformat.h"

#include <QPushButton>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>

#include <sys/resource.h>

namespace {

double windowThreadCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_StreamingRunOnPty(benchmark::State& state)
{
    lumora::test::TestBridge lib;
    lib.setCount(576);
    lib.setSpectrumText(0, std::string(1152, '8'));
    lib.setSpectrumText(1, std::string(1152, '4'));

    lumora::test::Pty pty;
    lumora::test::PortVariable port(pty.slave());
    lumora::test::PtyReader reader(pty.master());
    lumora::FrmMain frm;
    frm.Form_Load();
    frm.show();

    const auto runFor = std::chrono::milliseconds(static_cast<int>(state.range(0)));
    double cycles = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        lib.clearCalls();
        const auto start = std::chrono::steady_clock::now();
        const double cpuBefore = windowThreadCpuSeconds();
        QTimer::singleShot(runFor, frm.Command2, &QPushButton::click);
        frm.Command1->click();
        cpuSeconds += windowThreadCpuSeconds() - cpuBefore;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cycles += static_cast<double>(lib.calls().size()) / 6;  // six bridge calls per cycle
    }
    // The window thread's CPU during the run, in percent of one core: the
    // yields between writes, the cycles' work and the waits for the line.
    state.counters["cpu_percent"] = 100.0 * cpuSeconds / seconds;
    // The blanking sequence takes its own time after Stop; count the whole run.
    state.counters["cycles_per_s"] = cycles / seconds;
    state.counters["line_limit_ratio"] = cycles / seconds / (double(lumora::wire::kLineBytesPerSecond) / lumora::wire::kCycleBytes);
    state.counters["bytes_read"] = static_cast<double>(reader.count());
}
BENCHMARK(BM_StreamingRunOnPty)->Arg(3000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
