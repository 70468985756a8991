// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace lumora::vbvis {

// Whether anybody still asks for values. The program calls the library
// every cycle of a run and not at all in between, so after kIdleAfter
// without a call the source pauses its capture (what pausing means is each
// source's own business) and resumes on the next call.
//
// touch() runs on the callers' threads and never blocks them beyond a
// short lock on the one call that resumes; everything else runs wherever
// the source takes in its sound: its own thread, or (pulse) a call that
// holds the source's loop.
class Demand {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kIdleAfter{1000};

    Demand();

    // A call came now. If the source was paused it resumes: waitForCall()
    // returns.
    void touch();

    // Pauses when nobody has called for kIdleAfter; true while paused.
    bool pauseIfIdle();
    bool paused() const { return m_paused.load(); }

    // Blocks while paused. True when a call resumed the source, false when
    // stop was requested first.
    bool waitForCall(std::stop_token stop);

private:
    std::atomic<Clock::rep> m_lastCall;
    std::atomic<bool> m_paused{false};
    std::mutex m_mutex;  // guards the wait against a lost wake-up
    std::condition_variable_any m_resumed;
};

}  // namespace lumora::vbvis
