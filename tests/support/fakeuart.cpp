// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakeuart.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace lumora::fakeuart {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kDefaultQueueBytes = 4096;  // a serial driver's transmit buffer
constexpr int kBytesPerSecond = 5760;             // 57600 baud, 10 bit times a byte
constexpr unsigned kSerialMajor = 4;              // /dev/ttyS*

template <typename F> F real(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

ssize_t realWrite(int fd, const void* data, std::size_t size)
{
    return ::syscall(SYS_write, fd, data, size);
}

struct Device {
    std::mutex mutex;
    dev_t rdev = 0;
    bool attached = false;
    std::set<int> fds;  // descriptors of the device the program holds
    int lineFd = -1;    // where the drain thread shifts bytes out
    std::deque<std::uint8_t> queue;
    std::size_t queueBytes = kDefaultQueueBytes;
    bool held = false;
    int drainErrno = 0;
    Clock::time_point lineStart{};
    std::int64_t shifted = 0;  // bytes shifted out since lineStart
    Counts counts;
    std::vector<std::string> calls;
    std::thread drainer;
    std::atomic<bool> quit{false};

    Device()
    {
        drainer = std::thread([this] { drainLoop(); });
    }
    ~Device()
    {
        quit = true;
        drainer.join();
    }

    void attachTo(const std::string& path)
    {
        std::lock_guard lock(mutex);
        struct stat st { };
        attached = !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
        rdev = attached ? st.st_rdev : 0;
        fds.clear();
        queue.clear();
        lineFd = -1;
    }

    bool isDevice(int fd)
    {
        std::lock_guard lock(mutex);
        return fds.count(fd) != 0;
    }

    // The drain thread: shifts the queue out at the line rate.
    void drainLoop()
    {
        while (!quit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::lock_guard lock(mutex);
            const auto now = Clock::now();
            if (held || queue.empty() || lineFd < 0) {
                lineStart = now;  // an idle or stalled line is no credit
                shifted = 0;
                continue;
            }
            const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - lineStart).count();
            const std::int64_t due = elapsed * kBytesPerSecond / 1'000'000 - shifted;
            const auto n = static_cast<std::size_t>(std::clamp<std::int64_t>(due, 0, 4096));
            std::uint8_t chunk[4096];
            std::size_t taken = 0;
            while (taken < n && !queue.empty()) {
                chunk[taken++] = queue.front();
                queue.pop_front();
            }
            const ssize_t out = taken > 0 ? realWrite(lineFd, chunk, taken) : 0;
            const std::size_t sent = out > 0 ? static_cast<std::size_t>(out) : 0;
            // What the pty's reader has no room for yet goes back in front.
            queue.insert(queue.begin(), chunk + sent, chunk + taken);
            shifted += static_cast<std::int64_t>(sent);
        }
    }
};

// Until a device is attached, every call passes straight through, without
// so much as creating the drain thread.
std::atomic<bool> g_active{false};

Device& device()
{
    static Device instance;
    return instance;
}

bool active()
{
    return g_active.load(std::memory_order_relaxed);
}

__attribute__((constructor)) void attachFromEnvironment()
{
    if (const char* path = std::getenv("LUMORA_FAKE_UART"); path && *path)
        attach(path);
}

}  // namespace

void attach(const std::string& path)
{
    g_active = true;
    device().attachTo(path);
}

void setQueueBytes(std::size_t bytes)
{
    std::lock_guard lock(device().mutex);
    device().queueBytes = bytes;
}

void hold(bool held)
{
    std::lock_guard lock(device().mutex);
    device().held = held;
}

void failDrain(int errnoValue)
{
    std::lock_guard lock(device().mutex);
    device().drainErrno = errnoValue;
}

Counts counts()
{
    std::lock_guard lock(device().mutex);
    return device().counts;
}

std::vector<std::string> settingsCalls()
{
    std::lock_guard lock(device().mutex);
    return device().calls;
}

void resetCounts()
{
    std::lock_guard lock(device().mutex);
    device().counts = {};
    device().calls.clear();
}

}  // namespace lumora::fakeuart

using lumora::fakeuart::device;

extern "C" {

// The program learns what the device is from fstat(): a ttyS device, and
// the descriptor is the device's from now on.
int fstat(int fd, struct stat* st)
{
    static const auto next = lumora::fakeuart::real<int (*)(int, struct stat*)>("fstat");
    const int result = next(fd, st);
    if (!lumora::fakeuart::active())
        return result;
    auto& d = device();
    if (result == 0 && S_ISCHR(st->st_mode)) {
        std::lock_guard lock(d.mutex);
        if (d.attached && st->st_rdev == d.rdev) {
            d.fds.insert(fd);
            d.lineFd = fd;
            st->st_rdev = makedev(lumora::fakeuart::kSerialMajor, 64);
        }
    }
    return result;
}

ssize_t write(int fd, const void* data, size_t size)
{
    if (!lumora::fakeuart::active() || !device().isDevice(fd))
        return lumora::fakeuart::realWrite(fd, data, size);
    auto& d = device();
    std::lock_guard lock(d.mutex);
    const std::size_t room = d.queueBytes - std::min(d.queueBytes, d.queue.size());
    const std::size_t taken = std::min(room, size);
    if (taken == 0) {
        ++d.counts.refusals;
        errno = EAGAIN;
        return -1;
    }
    if (taken < size)
        ++d.counts.shortWrites;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    d.queue.insert(d.queue.end(), bytes, bytes + taken);
    d.counts.mostQueued = std::max(d.counts.mostQueued, d.queue.size());
    return static_cast<ssize_t>(taken);
}

int ioctl(int fd, unsigned long request, ...)
{
    static const auto next = lumora::fakeuart::real<int (*)(int, unsigned long, void*)>("ioctl");
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (request == TIOCOUTQ && lumora::fakeuart::active() && device().isDevice(fd)) {
        auto& d = device();
        std::lock_guard lock(d.mutex);
        ++d.counts.queueReads;
        *static_cast<int*>(argument) = static_cast<int>(d.queue.size());
        return 0;
    }
    return next(fd, request, argument);
}

int tcdrain(int fd)
{
    static const auto next = lumora::fakeuart::real<int (*)(int)>("tcdrain");
    if (!lumora::fakeuart::active() || !device().isDevice(fd))
        return next(fd);
    auto& d = device();
    {
        std::lock_guard lock(d.mutex);
        d.calls.emplace_back("drain");
        if (d.drainErrno != 0) {
            errno = d.drainErrno;
            return -1;
        }
    }
    for (;;) {
        {
            std::lock_guard lock(d.mutex);
            if (d.queue.empty())
                return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int tcsetattr(int fd, int actions, const struct termios* settings)
{
    static const auto next = lumora::fakeuart::real<int (*)(int, int, const struct termios*)>("tcsetattr");
    if (lumora::fakeuart::active() && device().isDevice(fd)) {
        std::lock_guard lock(device().mutex);
        device().calls.emplace_back("settings");
    }
    return next(fd, actions, settings);
}

int tcflush(int fd, int queueSelector)
{
    static const auto next = lumora::fakeuart::real<int (*)(int, int)>("tcflush");
    if ((queueSelector == TCOFLUSH || queueSelector == TCIOFLUSH) && lumora::fakeuart::active() &&
        device().isDevice(fd)) {
        std::lock_guard lock(device().mutex);
        device().calls.emplace_back("flush");
        device().queue.clear();
    }
    return next(fd, queueSelector);
}

int close(int fd)
{
    static const auto next = lumora::fakeuart::real<int (*)(int)>("close");
    if (lumora::fakeuart::active()) {
        auto& d = device();
        std::lock_guard lock(d.mutex);
        if (d.fds.erase(fd) != 0 && d.lineFd == fd) {
            d.lineFd = -1;
            d.queue.clear();
        }
    }
    return next(fd);
}

}  // extern "C"
