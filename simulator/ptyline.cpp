// SPDX-License-Identifier: GPL-3.0-or-later
#include "ptyline.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace lumora::sim {
namespace {

std::string describe(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

}  // namespace

std::unique_ptr<PtyLine> PtyLine::create(const std::string& linkPath, std::string& error)
{
    std::unique_ptr<PtyLine> pty(new PtyLine);
    pty->m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (pty->m_master < 0 || ::grantpt(pty->m_master) != 0 || ::unlockpt(pty->m_master) != 0) {
        error = describe("cannot create a pseudo-terminal");
        return nullptr;
    }
    char name[256];
    if (::ptsname_r(pty->m_master, name, sizeof name) != 0) {
        error = describe("ptsname_r");
        return nullptr;
    }
    pty->m_slavePath = name;
    pty->m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->m_slave < 0) {
        error = describe("open " + pty->m_slavePath);
        return nullptr;
    }
    termios settings{};
    if (::tcgetattr(pty->m_slave, &settings) != 0) {
        error = describe("tcgetattr");
        return nullptr;
    }
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B57600);
    if (::tcsetattr(pty->m_slave, TCSANOW, &settings) != 0) {
        error = describe("tcsetattr");
        return nullptr;
    }
    // Opens from now on are the sender's.
    pty->m_openWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (pty->m_openWatch < 0 || ::inotify_add_watch(pty->m_openWatch, name, IN_OPEN) < 0) {
        error = describe("inotify on " + pty->m_slavePath);
        return nullptr;
    }
    if (!linkPath.empty()) {
        const std::string temporary = linkPath + ".new";
        ::unlink(temporary.c_str());
        if (::symlink(name, temporary.c_str()) != 0 || ::rename(temporary.c_str(), linkPath.c_str()) != 0) {
            error = describe("cannot link " + linkPath);
            return nullptr;
        }
        pty->m_linkPath = linkPath;
    }
    return pty;
}

PtyLine::~PtyLine()
{
    if (!m_linkPath.empty()) {
        char target[256];
        const ssize_t length = ::readlink(m_linkPath.c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == m_slavePath)
            ::unlink(m_linkPath.c_str());
    }
    if (m_openWatch >= 0)
        ::close(m_openWatch);
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
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
    pollfd fd{m_master, POLLIN, 0};
    const timespec wait{static_cast<time_t>(timeout.count() / 1000000),
                        static_cast<long>(timeout.count() % 1000000) * 1000};
    const int ready = ::ppoll(&fd, 1, &wait, nullptr);
    if (ready < 0) {
        if (errno == EINTR)
            return true;
        error = describe("poll");
        return false;
    }
    if (ready == 0 || limit == 0)
        return true;
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(m_master, buffer, std::min(limit, sizeof buffer));
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return true;
        error = describe("read " + m_slavePath);
        return false;
    }
    bytes.insert(bytes.end(), buffer, buffer + n);
    return true;
}

}  // namespace lumora::sim
