// SPDX-License-Identifier: GPL-3.0-or-later
// main() for benchmarks that drive the window: a QApplication, then Google
// Benchmark. The window goes to QT_QPA_PLATFORM when that is set (xcb on
// an X server measures what users see), otherwise to the offscreen
// platform.
#include <QApplication>

#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The event dispatcher Lumora uses; QT_NO_GLIB set empty measures glib's.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
