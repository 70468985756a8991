// SPDX-License-Identifier: GPL-3.0-or-later
#include "subprocess.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace lumora::testing {

Subprocess::Subprocess(const std::string& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment)
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        std::abort();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(pipe[1], STDOUT_FILENO);
        for (const std::string& variable : environment)
            ::putenv(const_cast<char*>(variable.c_str()));
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipe[1]);
    m_stdout = pipe[0];
}

Subprocess::~Subprocess()
{
    if (!m_reaped && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_stdout >= 0)
        ::close(m_stdout);
}

std::optional<std::string> Subprocess::readLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd fd{m_stdout, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char chunk[4096];
        const ssize_t got = ::read(m_stdout, chunk, sizeof chunk);
        if (got <= 0)
            return std::nullopt;
        m_buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

std::vector<std::string> Subprocess::readRest(std::chrono::milliseconds timeout)
{
    std::vector<std::string> lines;
    while (auto line = readLine(timeout))
        lines.push_back(*line);
    return lines;
}

void Subprocess::signal(int number)
{
    ::kill(m_pid, number);
}

int Subprocess::wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_reaped = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

}  // namespace lumora::testing
