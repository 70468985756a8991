// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulation.h"

#include <algorithm>
#include <vector>

namespace lumora::sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

std::uint64_t cyclesIn(Clock::duration elapsed)
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) *
           (kClockHz / 1000000) / 1000;
}

microseconds durationOf(std::uint64_t cycles)
{
    return microseconds(static_cast<std::int64_t>(cycles / (kClockHz / 1000000)));
}

}  // namespace

Simulation::Simulation(std::unique_ptr<SimulatedDisplay> display, std::unique_ptr<PtyLine> pty, bool resetOnOpen)
    : m_display(std::move(display)), m_pty(std::move(pty)), m_resetOnOpen(resetOnOpen)
{
}

void Simulation::at(std::chrono::milliseconds when, std::function<void()> action)
{
    m_scheduled.push_back({cyclesIn(when), std::move(action)});
    std::sort(m_scheduled.begin(), m_scheduled.end(),
              [](const Scheduled& a, const Scheduled& b) { return a.cycle > b.cycle; });
}

std::chrono::microseconds Simulation::simulated() const
{
    return durationOf(m_display->cycle() - m_firstCycle);
}

bool Simulation::run(std::chrono::microseconds simulatedLimit, std::string& error)
{
    const Clock::time_point start = Clock::now();
    m_firstCycle = m_display->cycle();
    const std::uint64_t limit = simulatedLimit.count() > 0 ? m_firstCycle + cyclesIn(simulatedLimit) : UINT64_MAX;
    bool behind = false;
    std::uint64_t nextFrame = m_firstCycle;
    std::vector<std::uint8_t> bytes;
    bool ok = true;
    while (!m_stop) {
        while (!m_scheduled.empty() && m_display->cycle() >= m_firstCycle + m_scheduled.back().cycle) {
            const auto action = std::move(m_scheduled.back().action);
            m_scheduled.pop_back();
            action();
        }
        std::uint64_t target = std::min(limit, m_firstCycle + cyclesIn(Clock::now() - start));
        if (!m_scheduled.empty())
            target = std::min(target, m_firstCycle + m_scheduled.back().cycle);
        if (m_display->cycle() < target) {
            if (!m_display->runUntil(std::min(target, m_display->cycle() + kSliceCycles))) {
                error = "the firmware stopped (crashed, or sleeps with interrupts off)";
                ok = false;
                break;
            }
        }
        if (onFrame && m_display->cycle() >= nextFrame) {
            onFrame();
            nextFrame = m_display->cycle() + cyclesIn(kFramePeriod);
        }
        if (m_display->cycle() >= limit)
            break;
        const std::uint64_t now = m_firstCycle + cyclesIn(Clock::now() - start);
        const microseconds lag = now > m_display->cycle() ? durationOf(now - m_display->cycle()) : microseconds{};
        m_maxLag = std::max(m_maxLag, lag);
        if (lag > kBehindWarning && !behind && onBehind)
            onBehind(std::chrono::duration_cast<std::chrono::milliseconds>(lag));
        behind = lag > kBehindWarning / 2 && (behind || lag > kBehindWarning);

        if (m_resetOnOpen && m_pty->takeOpened()) {
            m_display->resetByDtr();
            if (onReset)
                onReset();
        }

        // Caught up: wait for bytes until the next slice is due.
        const microseconds wait = m_display->cycle() >= now ? durationOf(kSliceCycles) : microseconds{};
        const std::size_t room = kQueueBytes - std::min(kQueueBytes, m_display->queuedBytes());
        bytes.clear();
        if (!m_pty->read(bytes, room, wait, error)) {
            ok = false;
            break;
        }
        if (!bytes.empty())
            m_display->send(bytes);
    }
    m_wall = std::chrono::duration_cast<microseconds>(Clock::now() - start);
    return ok;
}

}  // namespace lumora::sim
