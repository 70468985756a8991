// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulatedboard.h"

#include <csignal>
#include <cstdio>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace lumora::sim::testing {

using namespace std::chrono_literals;

std::string hexOfLamps(const wire::Cycle& cycle)
{
    return wire::hexBytes(cycle.lamps);
}

std::optional<ShownUpdate> parseUpdate(const std::string& line)
{
    ShownUpdate update;
    char lamps[129] = {};
    int consumed = 0;
    if (std::sscanf(line.c_str(), "U %ld %ld %ld %128s |%n", &update.sequence, &update.millisecond,
                    &update.latencyMicroseconds, lamps, &consumed) != 4 ||
        consumed == 0)
        return std::nullopt;
    const std::string rest = line.substr(static_cast<std::size_t>(consumed));
    if (rest.size() != 2 * 20 + 2)
        return std::nullopt;
    update.lamps = lamps;
    update.line1 = rest.substr(0, 20);
    update.line2 = rest.substr(21, 20);
    return update;
}

std::optional<ShownUpdate> parseSnapshot(const std::string& line)
{
    if (line.rfind("S ", 0) != 0)
        return std::nullopt;
    std::string asUpdate = "U 0 " + line.substr(2);
    const auto space = asUpdate.find(' ', 4);
    if (space == std::string::npos)
        return std::nullopt;
    asUpdate.insert(space, " 0");
    return parseUpdate(asUpdate);
}

wire::Cycle lumoraLikeCycle(std::mt19937& random, const std::string& text)
{
    wire::Cycle cycle;
    const bool barMode = random() % 2 == 0;
    for (auto& lamp : cycle.lamps) {
        const int level = static_cast<int>(random() % 9);
        lamp = static_cast<std::uint8_t>(level == 0 ? 0 : barMode ? (1 << level) - 1 : 1 << (level - 1));
    }
    for (std::size_t i = 0; i < cycle.text.size(); ++i)
        cycle.text[i] = i < text.size() ? text[i] : ' ';
    return cycle;
}

SimulatedBoard::SimulatedBoard(const std::vector<std::string>& extraArguments)
    : m_process(LUMORA_SIM_PROGRAM, [&] {
          std::vector<std::string> arguments{"--headless", "--print-updates", "--snapshot",
                                             std::to_string(kListeningMs)};
          arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
          return arguments;
      }())
{
    const auto first = m_process.readLine(10s);
    const std::string prefix = "lumora-sim: listening on ";
    if (!first || first->rfind(prefix, 0) != 0)
        throw std::runtime_error("lumora-sim did not start: " + first.value_or("(nothing)"));
    m_portPath = first->substr(prefix.size());
    reopen();
}

void SimulatedBoard::reopen()
{
    if (m_port >= 0)
        ::close(m_port);
    m_port = ::open(m_portPath.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (m_port < 0)
        throw std::runtime_error("cannot open " + m_portPath);
}

SimulatedBoard::~SimulatedBoard()
{
    if (m_port >= 0)
        ::close(m_port);
}

void SimulatedBoard::send(const std::vector<std::uint8_t>& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(m_port, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0)
            throw std::runtime_error("write to the simulated display failed");
        sent += static_cast<std::size_t>(n);
    }
}

std::optional<std::string> SimulatedBoard::lineWhere(const std::function<bool(const std::string&)>& wanted,
                                                     std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto line = m_process.readLine(left);
        if (!line || wanted(*line))
            return line;
    }
    return std::nullopt;
}

std::optional<ShownUpdate> SimulatedBoard::nextUpdate(std::chrono::milliseconds timeout)
{
    const auto line = lineWhere([](const std::string& l) { return parseUpdate(l).has_value(); }, timeout);
    return line ? parseUpdate(*line) : std::nullopt;
}

bool SimulatedBoard::waitUntilListening(std::chrono::milliseconds timeout)
{
    return snapshotAt(kListeningMs, timeout).has_value();
}

std::optional<ShownUpdate> SimulatedBoard::snapshotAt(long ms, std::chrono::milliseconds timeout)
{
    const auto line = lineWhere(
        [ms](const std::string& l) {
            const auto snapshot = parseSnapshot(l);
            return snapshot && snapshot->millisecond == ms;
        },
        timeout);
    return line ? parseSnapshot(*line) : std::nullopt;
}

bool SimulatedBoard::waitForReset(std::chrono::milliseconds timeout)
{
    return lineWhere([](const std::string& l) { return l.rfind("R ", 0) == 0; }, timeout).has_value();
}

std::vector<std::string> SimulatedBoard::finish()
{
    m_process.signal(SIGTERM);
    std::vector<std::string> summary;
    for (const std::string& line : m_process.readRest(10s)) {
        if (line.rfind("U ", 0) != 0 && line.rfind("S ", 0) != 0)
            summary.push_back(line);
    }
    m_process.wait(10s);
    return summary;
}

}  // namespace lumora::sim::testing
