// SPDX-License-Identifier: GPL-3.0-or-later
// A pseudo-terminal pair for tests: the test holds the master side and plays
// the display; the program opens the slave as the display's port. A reader
// thread collects what arrives, and can be held to play a stalled display.
//
// Not common/pseudoterminal: that one is a display's own port, which keeps
// its slave open and raw so that senders come and go unnoticed. A test
// needs the opposite: a display that vanishes under a sender
// (closeMaster()), and a slave that only the program under test holds.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace lumora::testing {

using Bytes = std::vector<std::uint8_t>;

class Pty {
public:
    Pty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            throw std::runtime_error(std::string("no pty: ") + std::strerror(errno));
        m_slave = ::ptsname(m_master);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slave() const { return m_slave; }
    int master() const { return m_master; }

    // Everything the master can read now.
    void drainInto(Bytes& received)
    {
        std::uint8_t buffer[4096];
        while (m_master >= 0) {
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                return;
            received.insert(received.end(), buffer, buffer + n);
        }
    }

    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    std::string m_slave;
};

// Reads the master on its own thread while the program writes on the test's
// main thread (where a streaming run blocks until it ends).
class PtyReader {
public:
    explicit PtyReader(int master) : m_master(master), m_thread([this] { loop(); }) { }
    ~PtyReader()
    {
        m_quit = true;
        m_thread.join();
    }

    // While held, nothing is read: the display has stalled.
    void hold(bool held) { m_held = held; }

    Bytes received()
    {
        std::lock_guard lock(m_mutex);
        return m_bytes;
    }
    std::size_t count()
    {
        std::lock_guard lock(m_mutex);
        return m_bytes.size();
    }

private:
    void loop()
    {
        std::uint8_t buffer[4096];
        while (!m_quit) {
            if (m_held) {
                ::usleep(1000);
                continue;
            }
            pollfd fd{m_master, POLLIN, 0};
            if (::poll(&fd, 1, 5) <= 0)
                continue;
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard lock(m_mutex);
                m_bytes.insert(m_bytes.end(), buffer, buffer + n);
            } else {
                ::usleep(1000);  // the slave is closed: EIO until it reopens
            }
        }
    }

    int m_master;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_held{false};
    std::mutex m_mutex;
    Bytes m_bytes;
    std::thread m_thread;
};

}  // namespace lumora::testing
