// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "demand.h"
#include "samplering.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>

namespace lumora::vbvis {

// Something that delivers 44100 Hz stereo frames into a SampleRing from a
// thread of its own, or on the callers' threads while they call (serve()).
// start() opens the source and starts that thread;
// the destructor stops and joins it. start() returns what went wrong, and
// trouble after a successful start shows as silence; only a file that can
// no longer be read at all says so, once (filesource.h).
//
// Given a Demand, a source pauses while nobody asks for values and clears
// the ring as it pauses, so that the calls answer silence until the first
// fresh frames after the resume; without one it never pauses.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Call before start(); the demand must outlive the source.
    void setDemand(Demand* demand) { m_demand = demand; }
    // True: attached. False, with `error` set to one line saying why the
    // source cannot be opened.
    virtual bool start(std::string& error) = 0;
    // Runs on the caller's thread at a call, before it reads the ring: a
    // source that can take in its newest sound there, instead of waking a
    // thread for it, does so. Never waits for sound or for the source's
    // thread (pulse: while its server is gone, a call may be the one that
    // reconnects, which reads the client's configuration files once a
    // second). Most sources have nothing to do.
    virtual void serve() { }

protected:
    // Sets `error` to `why`, and is false: `return fail(error, "...");`.
    static bool fail(std::string& error, std::string why)
    {
        error = std::move(why);
        return false;
    }

    Demand* m_demand = nullptr;
};

// A source that makes its frames itself (a generated signal, a file) and so
// must pace them to the sample rate. Its thread wakes every few
// milliseconds and asks render() for exactly the frames that real time has
// moved on by since the start, so the stream neither drifts nor bursts.
// Paused, it renders nothing and its thread sleeps until the next call; on
// resuming it renders one analysis window (46 ms) at once, so the first
// values after a resume are whole, and then goes on in real time.
class PacedSource : public AudioSource {
public:
    explicit PacedSource(SampleRing& ring) : m_ring(ring) { }
    ~PacedSource() override;

protected:
    // Fills interleaved left/right frames (size is twice the frame count).
    // Runs on the source's thread.
    virtual void render(std::span<int16_t> interleaved) = 0;
    // Starts the pacing thread; call at the end of a successful start().
    void startPacing();
    // Stops and joins the pacing thread; derived destructors call it first so
    // that render() never runs on a half-destroyed object.
    void stopPacing();

private:
    void run(std::stop_token stop);

    SampleRing& m_ring;
    std::jthread m_thread;
};

}  // namespace lumora::vbvis
