// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the simulated display in real time, fed from its pseudo-terminal.
//
// The simulated clock follows the wall clock: the firmware runs in slices
// of at most kSliceCycles up to the cycle that corresponds to the time
// elapsed, and between slices the loop reads the pty and waits for the
// next millisecond. When the machine cannot keep up, the simulation falls
// behind; how far is measured (maxLag) and said once per episode on
// standard error.
//
// Bytes are taken from the pty only while fewer than kQueueBytes wait for
// the simulated USART, so a sender that writes faster than the USART takes
// them meets a full pty, as it would meet a full driver buffer.
#pragma once

#include "ptyline.h"
#include "simulateddisplay.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumora::sim {

class Simulation {
public:
    static constexpr std::uint64_t kSliceCycles = kClockHz / 1000;  // 1 ms
    static constexpr std::size_t kQueueBytes = 64;
    static constexpr std::chrono::milliseconds kBehindWarning{100};

    // resetOnOpen: every open of the port resets the board, as DTR does on
    // an Uno or Nano.
    Simulation(std::unique_ptr<SimulatedDisplay> display, std::unique_ptr<PtyLine> pty, bool resetOnOpen);
    // Called from run() after a reset by a port open.
    std::function<void()> onReset;
    // Called from run() when the simulation falls more than kBehindWarning
    // behind real time (the machine is too busy), once until it catches up.
    std::function<void(std::chrono::milliseconds)> onBehind;

    // Runs until stop() is called, `simulatedLimit` of simulated time has
    // passed (zero: no limit), the firmware stops or the pty fails. False,
    // with `error` saying why, when it ended for the last two.
    bool run(std::chrono::microseconds simulatedLimit, std::string& error);
    void stop() { m_stop = true; }

    // Called from run() every kFramePeriod of simulated time.
    static constexpr std::chrono::milliseconds kFramePeriod{16};
    std::function<void()> onFrame;

    // Calls `action` from run() once `when` of simulated time has passed.
    // Call before run().
    void at(std::chrono::milliseconds when, std::function<void()> action);

    SimulatedDisplay& display() { return *m_display; }
    const PtyLine& pty() const { return *m_pty; }

    // Measured by run().
    std::chrono::microseconds simulated() const;
    std::chrono::microseconds wall() const { return m_wall; }
    std::chrono::microseconds maxLag() const { return m_maxLag; }

private:
    struct Scheduled {
        std::uint64_t cycle;  // since the start of run()
        std::function<void()> action;
    };

    std::unique_ptr<SimulatedDisplay> m_display;
    std::vector<Scheduled> m_scheduled;  // latest first
    std::unique_ptr<PtyLine> m_pty;
    bool m_resetOnOpen;
    std::atomic<bool> m_stop{false};
    std::uint64_t m_firstCycle = 0;
    std::chrono::microseconds m_wall{};
    std::chrono::microseconds m_maxLag{};
};

}  // namespace lumora::sim
