// SPDX-License-Identifier: GPL-3.0-or-later
#include "pulsesource.h"

#include "analysis.h"

#include <pulse/pulseaudio.h>

#include <thread>

#include <pthread.h>

namespace lumora::vbvis {

struct PulseSource::Callbacks {
    static void contextState(pa_context* context, void* userdata)
    {
        auto* self = static_cast<PulseSource*>(userdata);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            pa_context_set_subscribe_callback(context, &Callbacks::subscription, self);
            if (pa_operation* op = pa_context_subscribe(
                    context,
                    static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE),
                    nullptr, nullptr))
                pa_operation_unref(op);
            if (self->m_sourceName.empty())
                self->settle(Attach::Attached);
            self->lookUpSource();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->settle(Attach::Failed, std::string("the sound server does not answer (") +
                                             pa_strerror(pa_context_errno(context)) + ")");
            self->m_ring.clear();
            self->scheduleRetry();  // drops the dead context outside its own callback
            break;
        default: break;
        }
    }

    static void subscription(pa_context*, pa_subscription_event_type_t type, uint32_t, void* userdata)
    {
        auto* self = static_cast<PulseSource*>(userdata);
        const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        // A server change may be a new default output; a new source may be
        // the one a named or a waiting stream has been missing.
        if (facility == PA_SUBSCRIPTION_EVENT_SERVER || !self->m_stream)
            self->lookUpSource();
    }

    static void serverInfo(pa_context*, const pa_server_info* info, void* userdata)
    {
        if (info)
            static_cast<PulseSource*>(userdata)->followDefault(*info);
    }

    static void sinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata)
    {
        auto* self = static_cast<PulseSource*>(userdata);
        if (eol == 0 && info && info->monitor_source_name) {
            self->connectStream(info->monitor_source_name);
            self->m_followedSink = info->name;
        }
    }

    static void sourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata)
    {
        auto* self = static_cast<PulseSource*>(userdata);
        if (eol < 0) {
            self->settle(Attach::Failed, "the sound server has no source named " + self->m_sourceName);
            return;
        }
        if (eol == 0 && info) {
            self->settle(Attach::Attached);
            if (self->m_device != info->name || !self->m_stream)
                self->connectStream(info->name);
        }
    }

    static void streamState(pa_stream* stream, void* userdata)
    {
        auto* self = static_cast<PulseSource*>(userdata);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY)
            self->followDemand();  // a call may have come while it connected corked
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            // The recorded source vanished (an output unplugged or unloaded).
            self->m_ring.clear();
            self->scheduleRetry();
        }
    }

    static void streamRead(pa_stream* stream, std::size_t, void* userdata)
    {
        auto* self = static_cast<PulseSource*>(userdata);
        const void* data = nullptr;
        std::size_t bytes = 0;
        const bool paused = self->m_corked;
        while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
            // No data with a size is a hole in the stream: skip it. Whatever
            // comes in after the cork is dropped.
            if (data && !paused)
                self->m_ring.write({static_cast<const float*>(data), bytes / sizeof(float)}, 32768.0f);
            pa_stream_drop(stream);
        }
        if (!paused)
            self->followDemand();
    }

    static void retry(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* userdata)
    {
        auto* self = static_cast<PulseSource*>(userdata);
        api->time_free(event);
        self->m_retry = nullptr;
        if (!self->m_context || !PA_CONTEXT_IS_GOOD(pa_context_get_state(self->m_context))) {
            self->dropStream();
            self->dropContext();
            self->connectContext();
            return;
        }
        if (self->m_stream && !PA_STREAM_IS_GOOD(pa_stream_get_state(self->m_stream)))
            self->dropStream();
        if (pa_context_get_state(self->m_context) == PA_CONTEXT_READY)
            self->lookUpSource();
    }
};

PulseSource::PulseSource(SampleRing& ring, std::string sourceName) : m_ring(ring), m_sourceName(std::move(sourceName))
{
}

PulseSource::~PulseSource()
{
    if (m_thread.joinable()) {
        m_thread.request_stop();
        pa_mainloop_wakeup(m_loop);
        m_thread.join();
    }
    if (!m_loop)
        return;
    std::lock_guard loop(m_loopMutex);
    if (m_retry)
        pa_mainloop_get_api(m_loop)->time_free(m_retry);
    m_retry = nullptr;
    dropStream();
    dropContext();
    pa_mainloop_free(m_loop);
}

bool PulseSource::start(std::string& error)
{
    m_loop = pa_mainloop_new();
    if (!m_loop)
        return fail(error, "cannot start the sound server connection");
    {
        std::lock_guard loop(m_loopMutex);
        connectContext();
    }
    m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
    pthread_setname_np(m_thread.native_handle(), "vbvis-pulse");

    const auto deadline = std::chrono::steady_clock::now() + kAttachTimeout;
    while (m_attach.load() == Attach::Pending && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    switch (m_attach.load()) {
    case Attach::Attached: return true;
    case Attach::Failed: return fail(error, m_attachError);
    case Attach::Pending: break;
    }
    return fail(error, "the sound server does not answer in time");
}

void PulseSource::run(std::stop_token stop)
{
    const auto handBackAt = [this] { return Clock::time_point(Clock::duration(m_lastServed.load())) + kHandBack; };
    std::unique_lock loop(m_loopMutex);
    while (!stop.stop_requested()) {
        if (Clock::now() < handBackAt()) {
            // Calls run the loop: sleep until they have stopped for kHandBack.
            loop.unlock();
            {
                std::unique_lock park(m_parkMutex);
                m_park.wait_until(park, stop, handBackAt(), [] { return false; });
            }
            loop.lock();
            continue;
        }
        m_threadPolling.store(true);
        // A call between the look at the clock and the store above found
        // the flag down and did not wake this thread: let it have the loop.
        // (Both sides write, then read, sequentially consistent.)
        if (Clock::now() >= handBackAt())
            pa_mainloop_iterate(m_loop, 1, nullptr);
        m_threadPolling.store(false);
        // A call may have woken this thread to let go: a paused stream
        // resumes now, whether or not the next call finds the loop free.
        followDemand();
        dispatchReady();
    }
}

void PulseSource::serve()
{
    const Clock::rep now = Clock::now().time_since_epoch().count();
    if (now - m_lastServed.load() < Clock::duration(kServeSpacing).count())
        return;
    m_lastServed.store(now);
    std::unique_lock loop(m_loopMutex, std::try_to_lock);
    if (!loop) {
        // The thread waits in the loop's poll, or another call runs the
        // loop; the thread lets go when it wakes, and the next call goes on.
        if (m_threadPolling.load())
            pa_mainloop_wakeup(m_loop);
        return;
    }
    followDemand();  // uncorks a paused stream
    dispatchReady();
}

void PulseSource::dispatchReady()
{
    // Until a pass finds nothing to do. Over shared memory one pass reads
    // all the server has sent and the next hands back the blocks; over the
    // plain socket (PipeWire's pulse server) a pass reads one header or
    // one fragment. The bound keeps a call short after a backlog, which
    // the next calls take in.
    constexpr int kMaxPasses = 32;
    for (int pass = 0; pass < kMaxPasses && pa_mainloop_iterate(m_loop, 0, nullptr) > 0; ++pass) { }
}

void PulseSource::settle(Attach result, std::string error)
{
    if (m_attach.load() != Attach::Pending)
        return;
    m_attachError = std::move(error);
    m_attach.store(result);
}

void PulseSource::connectContext()
{
    m_context = pa_context_new(pa_mainloop_get_api(m_loop), "Lumora");
    if (!m_context) {
        settle(Attach::Failed, "cannot make a sound server connection");
        scheduleRetry();
        return;
    }
    pa_context_set_state_callback(m_context, &Callbacks::contextState, this);
    // Never start a sound server of our own: no server means no sound.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        settle(Attach::Failed,
               std::string("the sound server does not answer (") + pa_strerror(pa_context_errno(m_context)) + ")");
        scheduleRetry();
    }
}

void PulseSource::dropContext()
{
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void PulseSource::dropStream()
{
    if (!m_stream)
        return;
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
        pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
    m_stream = nullptr;
    m_device.clear();
    m_followedSink.clear();
}

void PulseSource::scheduleRetry()
{
    if (m_retry)
        return;
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(std::chrono::microseconds(kRetryInterval).count()));
    pa_mainloop_api* api = pa_mainloop_get_api(m_loop);
    m_retry = api->time_new(api, &when, &Callbacks::retry, this);
}

void PulseSource::lookUpSource()
{
    pa_operation* op = m_sourceName.empty() ? pa_context_get_server_info(m_context, &Callbacks::serverInfo, this)
                                            : pa_context_get_source_info_by_name(m_context, m_sourceName.c_str(),
                                                                                 &Callbacks::sourceInfo, this);
    if (op)
        pa_operation_unref(op);
}

void PulseSource::followDefault(const pa_server_info& info)
{
    if (!info.default_sink_name || !*info.default_sink_name) {
        // No output at all: record nothing until one appears.
        dropStream();
        m_ring.clear();
        return;
    }
    if (m_stream && m_followedSink == info.default_sink_name)
        return;
    if (pa_operation* op =
            pa_context_get_sink_info_by_name(m_context, info.default_sink_name, &Callbacks::sinkInfo, this))
        pa_operation_unref(op);
}

void PulseSource::connectStream(const std::string& device)
{
    dropStream();
    // Floats: a sound server that mixes in floats (PipeWire) hands over the
    // quiet detail of music played at a low volume, which 16 bits round away.
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kSampleRate, 2};
    m_stream = pa_stream_new(m_context, "Lumora visualization", &spec, nullptr);
    if (!m_stream) {
        scheduleRetry();
        return;
    }
    pa_stream_set_state_callback(m_stream, &Callbacks::streamState, this);
    pa_stream_set_read_callback(m_stream, &Callbacks::streamRead, this);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(std::chrono::microseconds(kFragment).count()), &spec));
    // Never moved by the server: a vanished monitor would be replaced by the
    // default source, which is usually a microphone.
    // Paused, it starts corked; it uncorks when it is ready and wanted.
    m_corked = m_demand && m_demand->paused();
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
                                                      (m_corked ? PA_STREAM_START_CORKED : 0));
    if (pa_stream_connect_record(m_stream, device.c_str(), &attr, flags) < 0) {
        dropStream();
        scheduleRetry();
        return;
    }
    m_device = device;
}

}  // namespace lumora::vbvis

namespace lumora::vbvis {

// Corks the stream when nobody has asked for a while, uncorks it when a
// call came: the server then sends nothing, and this thread sleeps.
void PulseSource::followDemand()
{
    if (!m_demand || !m_stream)
        return;
    // Asked first: each libpulse call costs a system call (its fork check).
    const bool pause = m_demand->pauseIfIdle();
    if (pause == m_corked || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    if (pa_operation* op = pa_stream_cork(m_stream, pause ? 1 : 0, nullptr, nullptr)) {
        pa_operation_unref(op);
        m_corked = pause;
        if (pause)
            m_ring.clear();
    }
}

}  // namespace lumora::vbvis
