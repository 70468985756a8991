// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audiosource.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

struct pa_context;
struct pa_stream;
struct pa_mainloop;
struct pa_time_event;
struct pa_server_info;

namespace lumora::vbvis {

// Records from the sound server through libpulse (PulseAudio, or PipeWire
// through pipewire-pulse) on one libpulse main loop, run by whoever holds
// its lock; every callback below runs on that holder's thread.
//
// While calls come, the calls run the loop: each call (at most one every
// kServeSpacing) takes in whatever the server has sent since the last one,
// without blocking, and the source's thread sleeps. The sound is then as
// fresh as the server's fragment at the moment of the call, and nothing
// wakes for the fragments in between. After kHandBack without a call the
// source's thread takes the loop back and runs it, blocking, until calls
// come again; a call that finds it waiting wakes it so that it lets go.
//
// Without a name it records the monitor of the default output, i.e. what
// any player is playing, and moves to the new default output's monitor when
// the default changes. With a name it records that source. The stream is
// never moved by the server (a vanished monitor would otherwise be
// replaced by a microphone); when it ends, or the server goes away, the
// ring is cleared and the source reconnects every kRetryInterval. Paused
// (see Demand), the stream is corked: the server sends nothing until the
// next call uncorks it.
class PulseSource final : public AudioSource {
public:
    // sourceName: empty for the default output's monitor.
    PulseSource(SampleRing& ring, std::string sourceName);
    ~PulseSource() override;

    // Waits until the server has answered (at most kAttachTimeout) and, for
    // a named source, until the server has said whether it exists.
    bool start(std::string& error) override;
    void serve() override;

    static constexpr std::chrono::milliseconds kRetryInterval{1000};
    static constexpr std::chrono::milliseconds kAttachTimeout{3000};
    // Capture fragment: the server hands over sound every 10 ms.
    static constexpr std::chrono::milliseconds kFragment{10};
    // Calls closer together than this find the sound taken in already.
    static constexpr std::chrono::milliseconds kServeSpacing{2};
    // Without a call for this long, the source's thread runs the loop again.
    static constexpr std::chrono::milliseconds kHandBack{250};

private:
    enum class Attach { Pending, Attached, Failed };
    using Clock = std::chrono::steady_clock;

    // The source's thread: runs the loop while no calls come.
    void run(std::stop_token stop);
    // Under the loop's lock: dispatches what is ready, without blocking.
    void dispatchReady();

    void connectContext();
    void dropContext();
    void dropStream();
    void scheduleRetry();
    void lookUpSource();
    void followDefault(const pa_server_info& info);
    void connectStream(const std::string& device);
    void settle(Attach result, std::string error = {});
    void followDemand();

    struct Callbacks;  // libpulse's C callbacks, defined beside the code
    friend struct Callbacks;

    SampleRing& m_ring;
    const std::string m_sourceName;
    // Everything below the loop belongs to whoever holds m_loopMutex.
    std::mutex m_loopMutex;
    pa_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_retry = nullptr;
    bool m_corked = false;
    std::string m_device;        // the source being recorded, empty while none
    std::string m_followedSink;  // the default output whose monitor m_device is
    std::atomic<Attach> m_attach{Attach::Pending};
    std::string m_attachError;  // written before m_attach becomes Failed

    std::atomic<Clock::rep> m_lastServed{0};   // when a call last ran the loop
    std::atomic<bool> m_threadPolling{false};  // the thread blocks in the loop's poll
    std::mutex m_parkMutex;
    std::condition_variable_any m_park;  // the thread sleeps here while calls come
    std::jthread m_thread;
};

}  // namespace lumora::vbvis
