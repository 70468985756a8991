// SPDX-License-Identifier: GPL-3.0-or-later
#include "fifosource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace lumora::vbvis {

namespace {
constexpr std::size_t kFrameBytes = 4;    // two 16-bit samples
constexpr std::size_t kReadBytes = 4096;  // up to 23 ms per read
}  // namespace

FifoSource::FifoSource(SampleRing& ring, std::string path) : m_ring(ring), m_path(std::move(path))
{
}

FifoSource::~FifoSource()
{
    if (m_thread.joinable()) {
        m_thread.request_stop();
        const char byte = 0;
        [[maybe_unused]] ssize_t ignored = ::write(m_wake[1], &byte, 1);
        m_thread.join();
    }
    for (int fd : {m_fd, m_wake[0], m_wake[1]})
        if (fd >= 0)
            ::close(fd);
}

bool FifoSource::start(std::string& error)
{
    struct stat st { };
    if (::stat(m_path.c_str(), &st) != 0)
        return fail(error, "cannot read the pipe " + m_path + ": " + std::strerror(errno));
    if (!S_ISFIFO(st.st_mode))
        return fail(error, "cannot read the pipe " + m_path + ": it is not a named pipe");
    if (!reopen())
        return fail(error, "cannot read the pipe " + m_path + ": " + std::strerror(errno));
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(error, std::string("cannot start reading the pipe: ") + std::strerror(errno));
    m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
    return true;
}

bool FifoSource::reopen()
{
    if (m_fd >= 0)
        ::close(m_fd);
    // Non-blocking: opening a pipe for reading does not wait for a writer,
    // and a fresh read end reports no hang-up until a writer has come and gone.
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return m_fd >= 0;
}

void FifoSource::run(std::stop_token stop)
{
    std::vector<unsigned char> bytes(kReadBytes + kFrameBytes);
    std::vector<int16_t> frames;
    std::size_t carried = 0;  // bytes of a partial frame kept from the last read
    bool wasPaused = false;
    while (!stop.stop_requested()) {
        // poll() skips a negative descriptor; the timeout only matters while
        // the pipe is gone and reopening is retried.
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, 200) < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;
        if (m_fd < 0) {
            reopen();
            continue;
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t got = ::read(m_fd, bytes.data() + carried, kReadBytes);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0) {
            // The writer went away (or the pipe broke): wait for the next one,
            // which starts on a frame boundary again.
            carried = 0;
            reopen();
            continue;
        }
        const std::size_t total = carried + static_cast<std::size_t>(got);
        const std::size_t whole = total / kFrameBytes * kFrameBytes;
        // Paused, the pipe is still read (its writer would block otherwise)
        // but the frames go nowhere.
        const bool paused = m_demand && m_demand->pauseIfIdle();
        if (paused && !wasPaused)
            m_ring.clear();
        wasPaused = paused;
        if (!paused) {
            frames.resize(whole / 2);
            for (std::size_t i = 0; i < frames.size(); ++i)
                frames[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            m_ring.write(frames);
        }
        carried = total - whole;
        std::memmove(bytes.data(), bytes.data() + whole, carried);
    }
}

}  // namespace lumora::vbvis
