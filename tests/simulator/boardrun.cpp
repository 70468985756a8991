// SPDX-License-Identifier: GPL-3.0-or-later
#include "boardrun.h"

#include "hextext.h"

#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

namespace lumora::sim::testing {

namespace {

Shown shownOf(const DisplayState& state, std::uint64_t cycle)
{
    return {static_cast<long>(cycle / kCyclesPerMillisecond), hexBytes(state.lamps), state.lines[0], state.lines[1],
            state.lcdCursor};
}

}  // namespace

std::string hexOfLamps(const wire::Cycle& cycle)
{
    return hexBytes(cycle.lamps);
}

std::string textOf(const wire::Cycle& cycle)
{
    return std::string(cycle.textView());
}

const std::string& darkLamps()
{
    static const std::string dark(2 * wire::kLampBytes, '0');
    return dark;
}

wire::Cycle lumoraLikeCycle(std::mt19937& random, const std::string& text)
{
    wire::Cycle cycle;
    const bool barMode = random() % 2 == 0;
    for (auto& lamp : cycle.lamps)
        lamp = wire::levelLampByte(static_cast<int>(random() % (wire::kMaxLevel + 1)), barMode);
    for (std::size_t i = 0; i < cycle.text.size(); ++i)
        cycle.text[i] = i < text.size() ? text[i] : wire::kBlankChar;
    return cycle;
}

std::vector<std::uint8_t> bytesOf(const std::vector<wire::Cycle>& cycles)
{
    std::vector<std::uint8_t> bytes;
    for (const wire::Cycle& cycle : cycles) {
        const auto encoded = wire::encode(cycle);
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    }
    return bytes;
}

std::string inChild(const std::function<std::string()>& body)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "no pipe for the child";
    const pid_t pid = ::fork();
    if (pid < 0)
        return "no child";
    if (pid == 0) {
        ::close(pipeFds[0]);
        const std::string said = body();
        std::size_t written = 0;
        while (written < said.size()) {
            const ssize_t n = ::write(pipeFds[1], said.data() + written, said.size() - written);
            if (n <= 0)
                break;
            written += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string said;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return said + " (the child died: status " + std::to_string(status) + ")";
    return said;
}

BoardRun::BoardRun(Bootloader bootloader)
{
    std::string error;
    m_display = SimulatedDisplay::load(LUMORA_FIRMWARE_ELF, bootloader, error);
    if (!m_display)
        throw std::runtime_error(error);
    m_display->onUpdate = [this](const Update& update) { m_updates.push_back(shownOf(update.state, update.cycle)); };
}

bool BoardRun::runUntil(long ms)
{
    return m_display->runUntil(static_cast<std::uint64_t>(ms) * kCyclesPerMillisecond);
}

long BoardRun::nowMs() const
{
    return static_cast<long>(m_display->cycle() / kCyclesPerMillisecond);
}

void BoardRun::send(const std::vector<std::uint8_t>& bytes)
{
    m_display->send(bytes);
}

Shown BoardRun::shown() const
{
    return shownOf(m_display->state(), m_display->cycle());
}

}  // namespace lumora::sim::testing
