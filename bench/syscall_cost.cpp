// SPDX-License-Identifier: GPL-3.0-or-later
// What one system call costs on this machine, beside a call that needs
// none: the figure that decides how much a pass through an event loop
// costs (from under 0.1 us on bare metal to over 1 us on some virtual
// machines). Prints one line.
//
//   build-release/bin/syscall_cost
#include <chrono>
#include <cstdio>

#include <poll.h>
#include <unistd.h>

namespace {

template <typename F> double nanosPerCall(F call)
{
    constexpr int kCalls = 200000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i)
        call();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kCalls;
}

}  // namespace

int main()
{
    pollfd none{-1, 0, 0};
    const double getppid = nanosPerCall([] { (void)::getppid(); });
    const double poll = nanosPerCall([&] { (void)::poll(&none, 1, 0); });
    const double clock = nanosPerCall([] { (void)std::chrono::steady_clock::now(); });
    std::printf("one system call: getppid %.0f ns, poll (zero timeout) %.0f ns; "
                "steady_clock::now %.0f ns (no system call)\n",
                getppid, poll, clock);
    return 0;
}
