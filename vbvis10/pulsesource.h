// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audiosource.h"

#include <atomic>
#include <chrono>
#include <string>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;
struct pa_io_event;
struct pa_server_info;

namespace lumora::vbvis {

// Records from the sound server through libpulse (PulseAudio, or PipeWire
// through pipewire-pulse) on libpulse's threaded main loop, which is this
// source's thread; every callback below runs there.
//
// Without a name it records the monitor of the default output, i.e. what
// any player is playing, and moves to the new default output's monitor when
// the default changes. With a name it records that source. The stream is
// never moved by the server (a vanished monitor would otherwise be
// replaced by a microphone); when it ends, or the server goes away, the
// ring is cleared and the source reconnects every kRetryInterval. Paused
// (see Demand), the stream is corked: the server sends nothing until a
// call wakes this thread through a pipe and it uncorks.
class PulseSource final : public AudioSource {
public:
    // sourceName: empty for the default output's monitor.
    PulseSource(SampleRing& ring, std::string sourceName);
    ~PulseSource() override;

    // Waits until the server has answered (at most kAttachTimeout) and, for
    // a named source, until the server has said whether it exists.
    bool start(std::string& error) override;

    static constexpr std::chrono::milliseconds kRetryInterval{1000};
    static constexpr std::chrono::milliseconds kAttachTimeout{3000};
    // Capture fragment: the server hands over sound every 10 ms.
    static constexpr std::chrono::milliseconds kFragment{10};

private:
    enum class Attach { Pending, Attached, Failed };

    void connectContext();
    void dropContext();
    void dropStream();
    void scheduleRetry();
    void lookUpSource();
    void followDefault(const pa_server_info& info);
    void connectStream(const std::string& device);
    void settle(Attach result, std::string error = {});
    void followDemand();
    void closeWakePipe();

    struct Callbacks;  // libpulse's C callbacks, defined beside the code
    friend struct Callbacks;

    SampleRing& m_ring;
    const std::string m_sourceName;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_retry = nullptr;
    int m_wake[2]{-1, -1};  // the resume hook writes, the loop's io event reads
    pa_io_event* m_wakeEvent = nullptr;
    bool m_corked = false;
    std::string m_device;        // the source being recorded, empty while none
    std::string m_followedSink;  // the default output whose monitor m_device is
    std::atomic<Attach> m_attach{Attach::Pending};
    std::string m_attachError;  // written before m_attach becomes Failed
};

}  // namespace lumora::vbvis
