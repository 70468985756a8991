// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiosource.h"

#include "analysis.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace lumora::vbvis {

namespace {
// Wake-up period of a paced source: 5 ms keeps the newest frames within a
// few milliseconds of real time without noticeable CPU use.
constexpr auto kPacingPeriod = std::chrono::milliseconds(5);
// At most this many frames per render(): after a stall (a suspended
// machine) the stream skips ahead instead of rendering seconds of backlog.
constexpr std::int64_t kMaxChunkFrames = 4096;
}  // namespace

PacedSource::~PacedSource()
{
    stopPacing();
}

void PacedSource::startPacing()
{
    m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

void PacedSource::stopPacing()
{
    if (m_thread.joinable()) {
        m_thread.request_stop();
        m_thread.join();
    }
}

void PacedSource::run(std::stop_token stop)
{
    using Clock = std::chrono::steady_clock;
    auto begin = Clock::now();
    std::int64_t delivered = 0;
    std::vector<int16_t> chunk;
    auto wake = begin;
    while (!stop.stop_requested()) {
        if (m_demand && m_demand->pauseIfIdle()) {
            m_ring.clear();
            if (!m_demand->waitForCall(stop))
                break;
            begin = wake = Clock::now();
            delivered = -static_cast<std::int64_t>(kFftLength);
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin);
        const std::int64_t due = elapsed.count() * kSampleRate / 1'000'000;
        if (due - delivered > kMaxChunkFrames)
            delivered = due - kMaxChunkFrames;
        const std::int64_t frames = due - delivered;
        if (frames > 0) {
            chunk.resize(static_cast<std::size_t>(frames) * 2);
            render(chunk);
            m_ring.write(chunk);
            delivered = due;
        }
        wake += kPacingPeriod;
        if (const auto now = Clock::now(); wake < now)
            wake = now;  // overslept: no burst of catch-up wake-ups
        std::this_thread::sleep_until(wake);
    }
}

}  // namespace lumora::vbvis
