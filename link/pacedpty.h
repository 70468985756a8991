// SPDX-License-Identifier: GPL-3.0-or-later
// A pseudo-terminal as the line's device: the line plays the UART that it
// does not have. It hands the pty a byte no more than kLead before a
// 57600-baud line would begin it (LinePacer), and counts the bytes handed
// early as waiting, as a driver counts its queue: a moment in which the
// sender gets no processor is no silence on the line, up to the lead. The
// reader plays the receiving UART (wire/receivedline.h).
//
// Bytes are handed in batches: when the pty's lead has room for a cycle's
// bytes (or half the output buffer, whichever is less), all that is due.
// That is one system call, and one wake-up of the sender and of the
// reader (and of the kernel worker that moves the bytes, which preempts
// the sender), per batch instead of per write. Fewer bytes than a batch
// (the text comes a character a write) wait until the lead has run down to
// half of what a batch leaves it, even when the line is awake anyway: they
// are most likely the start of the next batch. A line that is awake anyway
// (a waiting write got room) tops the lead up with a batch, and a batch
// that falls due a little before such a wake-up waits for it: the next
// batch then falls due a batch's time later, when the next refill comes,
// so that a run at the default buffer wakes once a cycle for both. What
// the pty holds is its reader's: a closing line leaves it.
#pragma once

#include "linedevice.h"
#include "linepacer.h"

namespace lumora {

class PacedPty : public LineDevice {
public:
    static constexpr std::chrono::milliseconds kLead{40};
    // 3 ms of line, or a quarter of the batch: the least room for which a
    // line that is awake anyway tops the lead up, and how long a batch may
    // wait for such a wake-up.
    static constexpr int kEarlyBytes = 17;

    PacedPty(int outputBufferBytes, Clock::time_point now);

    std::size_t due(Clock::time_point now, std::size_t queued, bool awake) override;
    void handed(std::size_t count, bool refused, Clock::time_point now) override;
    int waiting(Clock::time_point now, bool ask) override;
    Clock::time_point whenWaitingAtMost(int target, std::size_t queued, Clock::time_point now) const override;
    Clock::time_point nextHandOver(std::size_t queued, Clock::time_point now, Clock::time_point awake) const override;
    bool drain(int& error) override;
    void discard() override { }

private:
    LinePacer m_pacer{kLead};
    int m_leadBytes;
    int m_batch;
    int m_handOverAt;  // bytes of lead at which a batch is handed
    int m_earlyBytes;
};

}  // namespace lumora
