// SPDX-License-Identifier: GPL-3.0-or-later
#include "ptysource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace lumora::display {

namespace {

std::string describe(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

void closeIfOpen(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Points `linkPath` at `target`, replacing an older symbolic link of that
// name in one step but never a file that is something else.
bool makeLink(const std::string& target, const std::string& linkPath, std::string& error)
{
    struct stat info {};
    if (::lstat(linkPath.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        error = linkPath + " exists and is not a symbolic link";
        return false;
    }
    const std::string temporary = linkPath + ".tmp" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        error = describe(("symlink " + linkPath).c_str());
        return false;
    }
    if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        error = describe(("rename to " + linkPath).c_str());
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<PtySource> PtySource::create(const std::string& linkPath, std::string& error)
{
    std::unique_ptr<PtySource> pty(new PtySource);
    pty->m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->m_master < 0) {
        error = describe("posix_openpt");
        return nullptr;
    }
    if (::grantpt(pty->m_master) != 0 || ::unlockpt(pty->m_master) != 0) {
        error = describe("grantpt/unlockpt");
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
        error = describe(("open " + pty->m_slavePath).c_str());
        return nullptr;
    }
    termios settings {};
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
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        error = describe("pipe2");
        return nullptr;
    }
    pty->m_wakeRead = wake[0];
    pty->m_wakeWrite = wake[1];
    if (!linkPath.empty()) {
        if (!makeLink(pty->m_slavePath, linkPath, error))
            return nullptr;
        pty->m_linkPath = linkPath;
    }
    return pty;
}

PtySource::~PtySource()
{
    if (m_reader.joinable()) {
        const char stop = 's';
        [[maybe_unused]] auto written = ::write(m_wakeWrite, &stop, 1);
        m_reader.join();
    }
    if (!m_linkPath.empty()) {
        char target[256];
        const ssize_t length = ::readlink(m_linkPath.c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == m_slavePath)
            ::unlink(m_linkPath.c_str());
    }
    closeIfOpen(m_wakeRead);
    closeIfOpen(m_wakeWrite);
    closeIfOpen(m_slave);
    closeIfOpen(m_master);
}

void PtySource::start(ChunkQueue& queue)
{
    m_reader = std::thread([this, &queue] { readLoop(queue); });
}

void PtySource::readLoop(ChunkQueue& queue)
{
    std::uint8_t buffer[4096];
    for (;;) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            queue.finish(describe("poll"));
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents & POLLIN) {
            const ssize_t got = ::read(m_master, buffer, sizeof buffer);
            const Nanoseconds arrival = monotonicNow();
            if (got > 0) {
                if (!queue.push({{buffer, buffer + got}, arrival}))
                    return;
                continue;
            }
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            queue.finish(got == 0 ? std::string("pseudo-terminal closed")
                                  : describe("reading the pseudo-terminal"));
            return;
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Cannot happen while the slave is held open; never spin on it.
            queue.finish("pseudo-terminal hung up");
            return;
        }
    }
}

}  // namespace lumora::display
