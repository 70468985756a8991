// SPDX-License-Identifier: GPL-3.0-or-later
#include "session.h"

#include "hextext.h"
#include "recording.h"

#include <QCoreApplication>

namespace lumora::display {

namespace {

std::optional<Nanoseconds> fixedSilence(const Options& options)
{
    if (!options.silenceMs)
        return std::nullopt;
    return std::chrono::milliseconds(*options.silenceMs);
}

}  // namespace

Session::Session(const Options& options, std::unique_ptr<ByteSource> source, DisplayWindow* window)
    : m_options(options), m_source(std::move(source)), m_window(window), m_decoder(fixedSilence(options))
{
    m_queue.setWakeUp([this] { wakeUp(); });
    connect(&m_statusTimer, &QTimer::timeout, this, &Session::refreshStatus);
    m_frameTimer.setSingleShot(true);
    connect(&m_frameTimer, &QTimer::timeout, this, &Session::drain);
}

Session::~Session()
{
    // A reader waiting for room must be released before it is joined.
    m_queue.close();
    m_source.reset();
}

bool Session::openRecording(const std::string& path, std::string& error)
{
    m_recording.open(path, std::ios::out | std::ios::trunc);
    if (!m_recording) {
        error = "cannot write " + path;
        return false;
    }
    m_recording << recordingHeader();
    return true;
}

void Session::start()
{
    m_started = monotonicNow();
    m_source->start(m_queue);
    if (m_window) {
        m_statusTimer.start(250);
        refreshStatus();
    }
}

void Session::printLine(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Session::wakeUp()
{
    if (m_wakeArmed.exchange(false))
        QMetaObject::invokeMethod(this, &Session::drain, Qt::QueuedConnection);
}

void Session::drain()
{
    if (m_stopped)
        return;
    std::vector<Chunk> chunks = m_queue.takeAll();
    if (!m_window || chunks.empty()) {
        // Idle (or headless): the next push wakes the session. A push
        // between the take and the arming found the session not armed and
        // woke nobody, so look once more.
        m_wakeArmed = true;
        if (!m_queue.empty())
            wakeUp();
    } else {
        m_frameTimer.start(m_window->frameInterval());
    }
    std::vector<DecodedEvent> events;
    for (const Chunk& chunk : chunks) {
        if (m_recording.is_open()) {
            const auto offset = std::chrono::duration_cast<std::chrono::microseconds>(
                std::max(chunk.arrival - m_started, Nanoseconds::zero()));
            m_recording << recordingLine({offset, chunk.bytes});
        }
        m_byteRate.add(chunk.arrival, chunk.bytes.size());
        events.clear();
        m_decoder.feed(chunk.bytes, chunk.arrival, events);
        for (const DecodedEvent& event : events) {
            handle(event);
            if (m_stopped)
                return;
        }
    }
    if (m_recording.is_open())
        m_recording.flush();

    std::string error;
    if (m_inputEnded || !m_queue.inputEnded(error))
        return;
    m_inputEnded = true;
    if (!error.empty()) {
        std::fprintf(stderr, "lumora-display: %s\n", error.c_str());
        if (!m_window) {
            stop(1);
            return;
        }
        m_state = QString::fromStdString(error);
    } else if (!m_window) {
        stop(0);
        return;
    } else {
        m_state = QStringLiteral("input ended");
        printLine("lumora-display: input ended");
    }
    refreshStatus();
}

void Session::handle(const DecodedEvent& event)
{
    using Kind = DecodedEvent::Kind;
    if (event.kind == Kind::Resync || event.kind == Kind::Realign) {
        if (m_options.printCycles)
            printLine("R " + std::to_string(event.sequence));
        return;
    }
    m_cycleRate.add(event.arrival, 1);
    if (m_options.printCycles) {
        printLine(std::string(event.kind == Kind::Blanking ? "B " : "C ") + std::to_string(event.sequence) + ' ' +
                  hexBytes(wire::encode(event.cycle)));
    }
    if (m_window)
        m_window->showCycle(event.cycle);
    if (event.kind == Kind::Blanking && m_options.quitAfterBlankings &&
        m_decoder.counts().blankings >= *m_options.quitAfterBlankings)
        stop(0);
}

void Session::refreshStatus()
{
    if (!m_window)
        return;
    const Nanoseconds now = monotonicNow();
    DisplayStatus status;
    status.counts = m_decoder.counts();
    status.cyclesPerSecond = m_cycleRate.perSecond(now);
    status.bytesPerSecond = m_byteRate.perSecond(now);
    status.silenceThreshold = m_decoder.silenceThreshold();
    status.silence = m_decoder.silenceState();
    status.pendingBytes = m_decoder.pendingBytes();
    status.source = QString::fromStdString(m_source->name());
    status.state = m_state;
    m_window->showStatus(status);
}

void Session::stop(int exitCode)
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_statusTimer.stop();
    if (m_recording.is_open())
        m_recording.flush();
    const DecoderCounts& counts = m_decoder.counts();
    printLine("cycles: " + std::to_string(counts.cycles));
    printLine("blankings: " + std::to_string(counts.blankings));
    printLine("resyncs: " + std::to_string(counts.resyncs));
    printLine("realignments: " + std::to_string(counts.realignments));
    printLine("dropped: " + std::to_string(counts.droppedBytes));
    printLine("bytes: " + std::to_string(counts.bytes));
    QCoreApplication::exit(exitCode);
}

}  // namespace lumora::display
