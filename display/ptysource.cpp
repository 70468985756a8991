// SPDX-License-Identifier: GPL-3.0-or-later
#include "ptysource.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace lumora::display {

namespace {

void closeIfOpen(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

}  // namespace

std::unique_ptr<PtySource> PtySource::create(const std::string& linkPath, std::string& error)
{
    std::unique_ptr<PtySource> pty(new PtySource);
    pty->m_pty = PseudoTerminal::open(0, linkPath, error);
    if (!pty->m_pty)
        return nullptr;
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        error = describeErrno("pipe2");
        return nullptr;
    }
    pty->m_wakeRead = wake[0];
    pty->m_wakeWrite = wake[1];
    return pty;
}

PtySource::~PtySource()
{
    if (m_reader.joinable()) {
        const char stop = 's';
        [[maybe_unused]] auto written = ::write(m_wakeWrite, &stop, 1);
        m_reader.join();
    }
    closeIfOpen(m_wakeRead);
    closeIfOpen(m_wakeWrite);
}

void PtySource::start(ChunkQueue& queue)
{
    m_reader = std::thread([this, &queue] { readLoop(queue); });
}

void PtySource::readLoop(ChunkQueue& queue)
{
    std::uint8_t buffer[4096];
    for (;;) {
        pollfd fds[2] = {{m_pty->master(), POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            queue.finish(describeErrno("poll"));
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents & POLLIN) {
            const ssize_t got = ::read(m_pty->master(), buffer, sizeof buffer);
            const Nanoseconds arrival = monotonicNow();
            if (got > 0) {
                if (!queue.push({{buffer, buffer + got}, arrival}))
                    return;
                continue;
            }
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            queue.finish(got == 0 ? std::string("pseudo-terminal closed")
                                  : describeErrno("reading the pseudo-terminal"));
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
