// SPDX-License-Identifier: GPL-3.0-or-later
// lumora-sim: the light display's firmware on a simulated board, fed from a
// pseudo-terminal, shown in a window or reported as text.
#include "hextext.h"
#include "options.h"
#include "ptyline.h"
#include "simulation.h"
#include "simwindow.h"
#include "wireformat.h"

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using lumora::sim::kCyclesPerMillisecond;

bool isBlank(const lumora::sim::DisplayState& state)
{
    for (std::uint8_t b : state.lamps) {
        if (b != 0)
            return false;
    }
    return state.lines[0].find_first_not_of(' ') == std::string::npos;
}

void printState(char kind, const std::string& head, const lumora::sim::DisplayState& s)
{
    std::printf("%c %s %s |%s|%s|\n", kind, head.c_str(), lumora::hexBytes(s.lamps).c_str(), s.lines[0].c_str(),
                s.lines[1].c_str());
    std::fflush(stdout);
}

void scheduleFaults(const lumora::sim::Options& options, lumora::sim::Simulation& simulation)
{
    using std::chrono::milliseconds;
    auto& display = simulation.display();
    display.setSelfTestJumper(options.selfTestJumper);
    for (std::uint64_t reception : options.framingErrors)
        display.addFramingError(reception);
    if (options.lcdPoweredAt) {
        display.lcdPower(false);
        simulation.at(milliseconds(*options.lcdPoweredAt), [&display] { display.lcdPower(true); });
    }
    for (const auto& glitch : options.lcdGlitches)
        simulation.at(milliseconds(glitch.atMs),
                      [&display, glitch] { display.lcdGlitchAfterStrobes(glitch.kind, glitch.afterStrobes); });
    if (options.lampsPowerUp)
        simulation.at(milliseconds(*options.lampsPowerUp), [&display] { display.powerUpLamps(); });
    if (options.hang)
        simulation.at(milliseconds(options.hang->atMs), [&display, hang = *options.hang] {
            if (!display.hang(hang.interruptsOff))
                std::fprintf(stderr, "lumora-sim: the firmware has no loop to hang in\n");
        });
    if (options.printUpdates) {
        for (long ms : options.snapshots)
            simulation.at(milliseconds(ms), [&display, ms] { printState('S', std::to_string(ms), display.state()); });
    }
}

lumora::sim::Simulation* g_simulation = nullptr;

void requestStop(int)
{
    if (g_simulation)
        g_simulation->stop();
}

void printSummary(lumora::sim::Simulation& simulation)
{
    const auto& display = simulation.display();
    const auto& line = display.receiver().counts();
    const auto& lcd = display.lcd().counts();
    const auto& board = display.board();
    const auto& writes = board.memoryWrites();
    const double simulated = static_cast<double>(simulation.simulated().count()) / 1e6;
    const double wall = static_cast<double>(simulation.wall().count()) / 1e6;
    const double cycles = simulated * lumora::sim::kClockHz;
    const double awake = cycles - static_cast<double>(board.sleptCycles());
    const auto count = [](const char* name, std::uint64_t n) {
        std::printf("%s: %llu\n", name, static_cast<unsigned long long>(n));
    };
    count("bytes sent", line.sent);
    count("bytes received", line.received);
    count("framing errors", line.framingErrors);
    count("overruns", line.overruns);
    std::printf("bytes taken by the bootloader: %llu (%s)\n", static_cast<unsigned long long>(line.toBootloader),
                lumora::hexBytes(display.receiver().bootloaderBytes()).c_str());
    count("bytes unheard in reset", line.unheard);
    count("updates", display.updates());
    count("LCD instructions lost while busy", lcd.lostWhileBusy);
    count("LCD timing violations", lcd.timingViolations);
    count("flash pages erased", writes.flashPageErases);
    count("flash pages written", writes.flashPageWrites);
    count("EEPROM writes", writes.eepromWrites);
    std::printf("firmware intact: %s\n", board.firmwareIntact() ? "yes" : "no");
    std::printf("resets: power-on %llu, reset pin %llu, watchdog %llu\n",
                static_cast<unsigned long long>(board.resets(lumora::sim::ResetCause::PowerOn)),
                static_cast<unsigned long long>(board.resets(lumora::sim::ResetCause::ResetPin)),
                static_cast<unsigned long long>(board.resets(lumora::sim::ResetCause::Watchdog)));
    std::printf("simulated: %.3f s in %.3f s wall (%.2fx real time)\n", simulated, wall,
                wall > 0 ? simulated / wall : 0.0);
    std::printf("largest lag behind real time: %.1f ms\n", static_cast<double>(simulation.maxLag().count()) / 1e3);
    std::printf("cpu awake: %.2f %%\n", cycles > 0 ? 100.0 * awake / cycles : 0.0);
    std::printf("deepest stack: %d bytes\n", board.deepestStack());
    if (line.received > 0) {
        const double perByte = awake / static_cast<double>(line.received);
        std::printf("awake cycles per received byte: %.0f (at %d bytes/s: %.1f %% of the CPU)\n", perByte,
                    lumora::wire::kLineBytesPerSecond,
                    100.0 * perByte * lumora::wire::kLineBytesPerSecond / lumora::sim::kClockHz);
    }
    if (display.updates() > 0) {
        constexpr double kCyclesPerMicrosecond = lumora::sim::kClockHz / 1e6;
        std::printf("update latency: mean %.0f us, max %.0f us\n",
                    static_cast<double>(display.latencyCyclesTotal()) / static_cast<double>(display.updates()) /
                        kCyclesPerMicrosecond,
                    static_cast<double>(display.latencyCyclesMax()) / kCyclesPerMicrosecond);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string error;
    const auto options = lumora::sim::parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "lumora-sim: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(lumora::sim::helpText(LUMORA_FIRMWARE_ELF).c_str(), stdout);
        return 0;
    }
    const std::string firmware = options->firmware.empty() ? LUMORA_FIRMWARE_ELF : options->firmware;
    auto display = lumora::sim::SimulatedDisplay::load(firmware, options->bootloader, error);
    if (!display) {
        std::fprintf(stderr, "lumora-sim: %s; build it with cmake --build (it needs gcc-avr and avr-libc)\n",
                     error.c_str());
        return 1;
    }
    auto pty = lumora::sim::PtyLine::create(options->link, error);
    if (!pty) {
        std::fprintf(stderr, "lumora-sim: %s\n", error.c_str());
        return 1;
    }
    lumora::sim::Simulation simulation(std::move(display), std::move(pty), options->resetOnOpen);
    simulation.onBehind = [](std::chrono::milliseconds lag) {
        std::fprintf(stderr, "lumora-sim: the simulation runs %lld ms behind real time (machine too busy)\n",
                     static_cast<long long>(lag.count()));
    };

    std::uint64_t blankings = 0;
    std::mutex shownMutex;
    lumora::sim::DisplayState shown = simulation.display().state();
    simulation.display().onUpdate = [&](const lumora::sim::Update& update) {
        if (options->printUpdates)
            printState('U',
                       std::to_string(update.sequence) + ' ' + std::to_string(update.cycle / kCyclesPerMillisecond) +
                           ' ' + std::to_string(update.latencyCycles / (kCyclesPerMillisecond / 1000)),
                       update.state);
        if (isBlank(update.state) && options->quitAfterBlankings > 0 && ++blankings >= options->quitAfterBlankings)
            simulation.stop();
    };
    simulation.onReset = [&] {
        if (options->printUpdates) {
            std::printf("R %llu\n",
                        static_cast<unsigned long long>(simulation.display().cycle() / kCyclesPerMillisecond));
            std::fflush(stdout);
        }
    };
    const auto limit = std::chrono::microseconds(static_cast<std::int64_t>(options->seconds * 1e6));
    scheduleFaults(*options, simulation);

    // SIGINT and SIGTERM end the run, then the summary is printed. A signal
    // ignored by whoever started us stays ignored: scripts/run starts us so
    // that a Ctrl-C reaches Lumora alone, which still has to blank us.
    g_simulation = &simulation;
    for (int number : {SIGINT, SIGTERM}) {
        struct sigaction previous { };
        ::sigaction(number, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN)
            std::signal(number, requestStop);
    }
    // A sender, or a test, may act on this line at once: it comes last.
    std::printf("lumora-sim: listening on %s\n", simulation.pty().slavePath().c_str());
    std::fflush(stdout);

    bool ok = true;
    if (options->headless) {
        ok = simulation.run(limit, error);
    } else {
        QApplication app(argc, argv);
        lumora::sim::SimWindow window;
        window.show();
        simulation.onFrame = [&] {
            std::lock_guard lock(shownMutex);
            shown = simulation.display().state();
        };
        std::thread runner([&] {
            ok = simulation.run(limit, error);
            QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection);
        });
        QTimer repaint;
        QObject::connect(&repaint, &QTimer::timeout, [&] {
            std::lock_guard lock(shownMutex);
            window.setState(shown);
        });
        repaint.start(static_cast<int>(lumora::sim::Simulation::kFramePeriod.count()));
        app.exec();
        simulation.stop();
        runner.join();
    }
    printSummary(simulation);
    std::fflush(stdout);
    if (!ok) {
        std::fprintf(stderr, "lumora-sim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
