// SPDX-License-Identifier: GPL-3.0-or-later
#include "ptyline.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace lumora::sim {
std::unique_ptr<PtyLine> PtyLine::create(const std::string& linkPath, std::string& error)
{
    std::unique_ptr<PtyLine> pty(new PtyLine);
    pty->m_pty = PseudoTerminal::open(O_NONBLOCK, linkPath, error);
    if (!pty->m_pty)
        return nullptr;
    // Opens from now on are the sender's.
    pty->m_openWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (pty->m_openWatch < 0 || ::inotify_add_watch(pty->m_openWatch, pty->slavePath().c_str(), IN_OPEN) < 0) {
        error = describeErrno("inotify on " + pty->slavePath());
        return nullptr;
    }
    return pty;
}

PtyLine::~PtyLine()
{
    if (m_openWatch >= 0)
        ::close(m_openWatch);
}

bool PtyLine::takeOpened()
{
    bool opened = false;
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t n = ::read(m_openWatch, events, sizeof events);
        if (n <= 0)
            return opened;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            opened = opened || (event->mask & IN_OPEN) != 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

bool PtyLine::read(std::vector<std::uint8_t>& bytes, std::size_t limit, std::chrono::microseconds timeout,
                   std::string& error)
{
    pollfd fd{m_pty->master(), POLLIN, 0};
    const timespec wait{static_cast<time_t>(timeout.count() / 1000000),
                        static_cast<long>(timeout.count() % 1000000) * 1000};
    // With no room for bytes, only wait: waiting on a pty that holds bytes
    // would return at once, and the caller would spin.
    const int ready = ::ppoll(&fd, limit == 0 ? 0 : 1, &wait, nullptr);
    if (ready < 0) {
        if (errno == EINTR)
            return true;
        error = describeErrno("poll");
        return false;
    }
    if (ready == 0 || limit == 0)
        return true;
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(m_pty->master(), buffer, std::min(limit, sizeof buffer));
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return true;
        error = describeErrno("read " + slavePath());
        return false;
    }
    bytes.insert(bytes.end(), buffer, buffer + n);
    return true;
}

}  // namespace lumora::sim
