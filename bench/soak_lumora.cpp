// SPDX-License-Identifier: GPL-3.0-or-later
// Lumora for bench/soak: the window, library and start-up of build/bin/lumora,
// with Start and Stop pressed on a schedule instead of by hand.
//
//   soak_lumora SECONDS TOGGLE_SECONDS LONG_RUN_SECONDS SENT_FILE
//
// For SECONDS it presses Start and Stop in turn every TOGGLE_SECONDS, except
// for one run of LONG_RUN_SECONDS in the middle, then stops and closes the
// window. Every byte the program writes to the serial device is also
// appended to SENT_FILE, so that the soak can compare what was sent with
// what the display received. It prints one line per run to standard output.
//
// The copy is taken by this program's own write() and close(), which stand
// in front of the C library's for everything linked into it (the serial
// line writes to its descriptor directly). They cost one fstat() per write
// to another descriptor and a 64 KiB buffer.
#include "errorreport.h"
#include "frmmain.h"
#include "serialline.h"
#include "signalclose.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

dev_t g_device = 0;        // the serial device's number; 0: not known
int g_serial = -1;         // a descriptor known to be the serial device
int g_sent = -1;           // SENT_FILE
char g_buffer[64 * 1024];  // bytes for SENT_FILE not yet written
std::size_t g_buffered = 0;
unsigned long long g_sentBytes = 0;

void flushSent()
{
    std::size_t done = 0;
    while (done < g_buffered) {
        const long n = ::syscall(SYS_write, g_sent, g_buffer + done, g_buffered - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    g_buffered = 0;
}

bool isSerial(int fd)
{
    if (fd == g_serial)
        return true;
    struct stat st { };
    if (g_device == 0 || fd < 0 || ::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != g_device)
        return false;
    g_serial = fd;
    return true;
}

}  // namespace

extern "C" ssize_t write(int fd, const void* bytes, size_t count)
{
    const long written = ::syscall(SYS_write, fd, bytes, count);
    if (written > 0 && g_sent >= 0 && isSerial(fd)) {
        const auto n = static_cast<std::size_t>(written);
        if (g_buffered + n > sizeof g_buffer)
            flushSent();
        std::copy_n(static_cast<const char*>(bytes), n, g_buffer + g_buffered);
        g_buffered += n;
        g_sentBytes += n;
    }
    return written;
}

extern "C" int close(int fd)
{
    if (fd == g_serial) {
        g_serial = -1;
        flushSent();  // everything of the run is in SENT_FILE once the port is closed
    }
    return static_cast<int>(::syscall(SYS_close, fd));
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: soak_lumora SECONDS TOGGLE_SECONDS LONG_RUN_SECONDS SENT_FILE PORT\n");
        return 2;
    }
    using Seconds = std::chrono::duration<double>;
    const Seconds total(std::atof(argv[1]));
    const Seconds toggle(std::atof(argv[2]));
    const Seconds longRun(std::atof(argv[3]));
    g_sent = ::open(argv[4], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    struct stat device { };
    const char* port = argv[5];
    if (g_sent < 0 || ::stat(port, &device) != 0) {
        std::fprintf(stderr, "soak_lumora: cannot open %s, or %s is no device\n", argv[4], port);
        return 2;
    }
    g_device = device.st_rdev;

    lumora::FrmMain window;
    window.MSComm1->setPortOneDevice(QString::fromLocal8Bit(port));
    if (!window.Form_Load())
        return lumora::kExitInstallFailed;
    lumora::closeOnSignals(window);
    window.show();

    // The long run starts at a Start of the toggling, near the middle.
    const double period = 2 * toggle.count();
    const Seconds longStart(std::max(0.0, std::floor((total - longRun).count() / 2 / period) * period));
    const auto wanted = [&](Seconds t) {
        if (t >= total)
            return false;
        if (t >= longStart && t < longStart + longRun)
            return true;
        const Seconds phase = t < longStart ? t : t - (longStart + longRun) + toggle;
        return static_cast<long>(phase / toggle) % 2 == 0;
    };

    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return Seconds(std::chrono::steady_clock::now() - started); };
    int runs = 0;
    bool startPending = false;
    QTimer control;
    QObject::connect(&control, &QTimer::timeout, [&] {
        const Seconds t = elapsed();
        if (wanted(t) && !window.running() && !startPending && window.Command1->isEnabled()) {
            // Start's handler runs the whole run; it must not run inside
            // this timer's handler, which has to go on firing meanwhile.
            startPending = true;
            QTimer::singleShot(0, &window, [&] {
                startPending = false;
                ++runs;
                std::printf("soak: run %d starts at %.1f s\n", runs, elapsed().count());
                std::fflush(stdout);
                window.Command1->click();
                std::printf("soak: run %d ended at %.1f s\n", runs, elapsed().count());
                std::fflush(stdout);
            });
        } else if (!wanted(t) && window.running() && window.Command2->isEnabled()) {
            window.Command2->click();
        } else if (t >= total && !window.running() && !startPending) {
            window.close();
        }
    });
    control.start(100);

    const int status = app.exec();
    flushSent();
    std::printf("soak: %d runs, %llu bytes sent\n", runs, g_sentBytes);
    return status;
}
