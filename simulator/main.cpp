// SPDX-License-Identifier: GPL-3.0-or-later
// lumora-sim: the light display's firmware on a simulated board, fed from a
// pseudo-terminal, shown in a window or reported as text.
#include "ptyline.h"
#include "simulation.h"
#include "simwindow.h"
#include "wireformat.h"

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char kUsage[] = R"(Usage: lumora-sim [OPTION]...
Runs the light display's firmware on a simulated ATmega328P at 16 MHz, in
real time, with eight MAX7219 lamp drivers and a 20x2 LCD. It creates a
pseudo-terminal, prints "lumora-sim: listening on /dev/pts/N", and feeds
what arrives there into the simulated serial line (57600 8N1), at the pace
of the simulated USART.

  --firmware ELF         the firmware image (default: the one built with
                         this program, %s)
  --link PATH            keep a symbolic link PATH to the pseudo-terminal
  --headless             no window; print a summary at the end
  --print-updates        print the display after each update it makes:
                           U <n> <ms> <us> <64 lamp bytes in hex> |<line 1>|<line 2>|
                         <ms>: simulated time since the start; <us>: the
                         time since the last received byte (0: none)
  --reset-on-open        reset the board whenever a sender opens the port, as
                         DTR does on an Uno or Nano; the bootloader then takes
                         the bytes of the first 20 ms (prints "R <ms>" with
                         --print-updates)
  --seconds S            stop after S simulated seconds
  --quit-after-blankings N
                         stop after the display has shown N blankings
  --snapshot MS          print what the display shows at MS simulated
                         milliseconds, with --print-updates:
                           S <ms> <64 lamp bytes in hex> |<line 1>|<line 2>|
  --self-test-jumper     fit the self-test jumper (D2 to ground): at power-up
                         the display tests its lamps and LCD

Faults a real board meets, each at MS simulated milliseconds:
  --lcd-powered-at MS    the LCD gets power only then (it ignores the
                         firmware's start-up, and comes up blank)
  --lcd-stray-e MS       a stray pulse on the LCD's E line
  --lamps-power-up MS    the lamp drivers power up again (a glitch on the
                         LED supply): shut down, digit registers random
  --framing-error N      the firmware's Nth received byte since it started
                         comes with a framing error (may be repeated)
  -h, --help             this text

The summary: bytes fed, late receptions (bytes a real chip would have lost
because the firmware served its receive interrupt more than two byte times
late), updates, LCD writes while busy (sooner after the last than the LCD's
execution time), simulated and wall time, the largest lag behind real time,
the share of CPU cycles the firmware was awake, and the time from the last
received byte of a cycle to lamps and LCD showing it.
)";

struct Options {
    std::string firmware = LUMORA_FIRMWARE_ELF;
    std::string link;
    bool headless = false;
    bool printUpdates = false;
    bool resetOnOpen = false;
    bool selfTestJumper = false;
    double seconds = 0;
    long quitAfterBlankings = 0;
    std::vector<long> snapshots;  // ms
    long lcdPoweredAt = -1;       // ms; -1: none of these faults
    long lcdStrayE = -1;
    long lampsPowerUp = -1;
    std::vector<long> framingErrors;  // receptions
};

// The options that take a whole number of ms or bytes.
bool countOption(const std::string& arg, Options& options, long*& single, std::vector<long>*& many)
{
    single = nullptr;
    many = nullptr;
    if (arg == "--snapshot")
        many = &options.snapshots;
    else if (arg == "--framing-error")
        many = &options.framingErrors;
    else if (arg == "--lcd-powered-at")
        single = &options.lcdPoweredAt;
    else if (arg == "--lcd-stray-e")
        single = &options.lcdStrayE;
    else if (arg == "--lamps-power-up")
        single = &options.lampsPowerUp;
    return single || many;
}

bool parse(int argc, char** argv, Options& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        long* single = nullptr;
        std::vector<long>* many = nullptr;
        if (countOption(arg, options, single, many)) {
            const char* v = value();
            if (!v)
                return false;
            char* end = nullptr;
            const long n = std::strtol(v, &end, 10);
            if (*end != '\0' || end == v || n < 0) {
                error = arg + " needs a non-negative whole number, not " + v;
                return false;
            }
            if (single)
                *single = n;
            else
                many->push_back(n);
        } else if (arg == "--firmware" || arg == "--link" || arg == "--seconds" || arg == "--quit-after-blankings") {
            const char* v = value();
            if (!v)
                return false;
            char* end = nullptr;
            if (arg == "--firmware")
                options.firmware = v;
            else if (arg == "--link")
                options.link = v;
            else if (arg == "--seconds")
                options.seconds = std::strtod(v, &end);
            else
                options.quitAfterBlankings = std::strtol(v, &end, 10);
            if (end && (*end != '\0' || end == v || options.seconds < 0 || options.quitAfterBlankings < 0)) {
                error = arg + " needs a non-negative number, not " + v;
                return false;
            }
        } else if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--print-updates") {
            options.printUpdates = true;
        } else if (arg == "--reset-on-open") {
            options.resetOnOpen = true;
        } else if (arg == "--self-test-jumper") {
            options.selfTestJumper = true;
        } else {
            error = "unknown argument " + arg;
            return false;
        }
    }
    return true;
}

bool isBlank(const lumora::sim::DisplayState& state)
{
    for (std::uint8_t b : state.lamps) {
        if (b != 0)
            return false;
    }
    return state.lines[0].find_first_not_of(' ') == std::string::npos;
}

// Reports go here. simavr's LCD part prints every byte it is sent on
// standard output, so that descriptor is pointed to /dev/null.
FILE* g_reports = stdout;

void printState(char kind, const std::string& head, const lumora::sim::DisplayState& s)
{
    std::fprintf(g_reports, "%c %s %s |%s|%s|\n", kind, head.c_str(), lumora::wire::hexBytes(s.lamps).c_str(),
                 s.lines[0].c_str(), s.lines[1].c_str());
    std::fflush(g_reports);
}

void scheduleFaults(const Options& options, lumora::sim::Simulation& simulation)
{
    using std::chrono::milliseconds;
    auto& display = simulation.display();
    display.setSelfTestJumper(options.selfTestJumper);
    for (long reception : options.framingErrors)
        display.addFramingError(static_cast<std::uint64_t>(reception));
    if (options.lcdPoweredAt >= 0)
        display.powerLcdAt(display.cycle() +
                           static_cast<std::uint64_t>(options.lcdPoweredAt) * (lumora::sim::kClockHz / 1000));
    if (options.lcdStrayE >= 0)
        simulation.at(milliseconds(options.lcdStrayE), [&display] { display.strayLcdPulse(); });
    if (options.lampsPowerUp >= 0)
        simulation.at(milliseconds(options.lampsPowerUp), [&display] { display.powerUpLamps(); });
    if (options.printUpdates) {
        for (long ms : options.snapshots)
            simulation.at(milliseconds(ms), [&display, ms] { printState('S', std::to_string(ms), display.state()); });
    }
}

lumora::sim::Simulation* g_simulation = nullptr;

bool separateReports()
{
    const int reports = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (reports < 0 || null < 0 || ::dup2(null, STDOUT_FILENO) < 0)
        return false;
    ::close(null);
    g_reports = ::fdopen(reports, "w");
    return g_reports != nullptr;
}

void requestStop(int)
{
    if (g_simulation)
        g_simulation->stop();
}

void printSummary(lumora::sim::Simulation& simulation)
{
    const auto& counts = simulation.display().counts();
    const double simulated = static_cast<double>(simulation.simulated().count()) / 1e6;
    const double wall = static_cast<double>(simulation.wall().count()) / 1e6;
    const double cycles = simulated * lumora::sim::kClockHz;
    const double awake = cycles - static_cast<double>(counts.sleptCycles);
    std::fprintf(g_reports, "bytes fed: %llu\n", static_cast<unsigned long long>(counts.bytesFed));
    std::fprintf(g_reports, "receptions: %llu\n", static_cast<unsigned long long>(counts.receptions));
    std::fprintf(g_reports, "late receptions: %llu\n", static_cast<unsigned long long>(counts.lateReceptions));
    std::fprintf(g_reports, "bytes taken by the bootloader: %llu\n",
                 static_cast<unsigned long long>(simulation.display().bytesToBootloader()));
    std::fprintf(g_reports, "updates: %llu\n", static_cast<unsigned long long>(counts.updates));
    std::fprintf(g_reports, "LCD writes while busy: %llu\n",
                 static_cast<unsigned long long>(counts.lcdWritesWhileBusy));
    std::fprintf(g_reports, "simulated: %.3f s in %.3f s wall (%.2fx real time)\n", simulated, wall,
                 wall > 0 ? simulated / wall : 0.0);
    std::fprintf(g_reports, "largest lag behind real time: %.1f ms\n",
                 static_cast<double>(simulation.maxLag().count()) / 1e3);
    std::fprintf(g_reports, "cpu awake: %.2f %%\n", cycles > 0 ? 100.0 * awake / cycles : 0.0);
    if (counts.receptions > 0) {
        const double perByte = awake / static_cast<double>(counts.receptions);
        std::fprintf(g_reports, "awake cycles per received byte: %.0f (at 5760 bytes/s: %.1f %% of the CPU)\n", perByte,
                     100.0 * perByte * 5760 / lumora::sim::kClockHz);
    }
    if (counts.updates > 0)
        std::fprintf(g_reports, "update latency: mean %.0f us, max %.0f us\n",
                     static_cast<double>(counts.latencyCyclesTotal) / static_cast<double>(counts.updates) / 16.0,
                     static_cast<double>(counts.latencyCyclesMax) / 16.0);
}

}  // namespace

// Under LeakSanitizer (the asan build): simavr keeps what it allocates for
// the firmware image and its IRQs until the process ends, and frees none of
// it on avr_terminate(). Those are simavr's, not ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libsimavr.so\n";
}

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fprintf(g_reports, kUsage, LUMORA_FIRMWARE_ELF);
            return 0;
        }
    }
    Options options;
    std::string error;
    if (!separateReports()) {
        std::perror("lumora-sim: standard output");
        return 1;
    }
    if (!parse(argc, argv, options, error)) {
        std::fprintf(stderr, "lumora-sim: %s (try --help)\n", error.c_str());
        return 2;
    }
    auto display = lumora::sim::SimulatedDisplay::load(options.firmware, error);
    if (!display) {
        std::fprintf(stderr, "lumora-sim: %s; build it with cmake --build (it needs gcc-avr and avr-libc)\n",
                     error.c_str());
        return 1;
    }
    auto pty = lumora::sim::PtyLine::create(options.link, error);
    if (!pty) {
        std::fprintf(stderr, "lumora-sim: %s\n", error.c_str());
        return 1;
    }
    lumora::sim::Simulation simulation(std::move(display), std::move(pty), options.resetOnOpen);

    long blankings = 0;
    std::mutex shownMutex;
    lumora::sim::DisplayState shown = simulation.display().state();
    simulation.display().onUpdate = [&](const lumora::sim::Update& update) {
        if (options.printUpdates)
            printState('U',
                       std::to_string(update.sequence) + ' ' +
                           std::to_string(update.cycle / (lumora::sim::kClockHz / 1000)) + ' ' +
                           std::to_string(update.latencyCycles / (lumora::sim::kClockHz / 1000000)),
                       update.state);
        if (isBlank(update.state) && options.quitAfterBlankings > 0 && ++blankings >= options.quitAfterBlankings)
            simulation.stop();
    };
    simulation.onReset = [&] {
        if (options.printUpdates) {
            std::fprintf(
                g_reports, "R %llu\n",
                static_cast<unsigned long long>(simulation.display().cycle() / (lumora::sim::kClockHz / 1000)));
            std::fflush(g_reports);
        }
    };
    const auto limit = std::chrono::microseconds(static_cast<std::int64_t>(options.seconds * 1e6));
    scheduleFaults(options, simulation);

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
    std::fprintf(g_reports, "lumora-sim: listening on %s\n", simulation.pty().slavePath().c_str());
    std::fflush(g_reports);

    if (options.headless) {
        error = simulation.run(limit);
    } else {
        QApplication app(argc, argv);
        lumora::sim::SimWindow window;
        window.show();
        simulation.onFrame = [&] {
            std::lock_guard lock(shownMutex);
            shown = simulation.display().state();
        };
        std::thread runner([&] {
            error = simulation.run(limit);
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
    std::fflush(g_reports);
    if (!error.empty()) {
        std::fprintf(stderr, "lumora-sim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
