// SPDX-License-Identifier: GPL-3.0-or-later
// One run of lumora-display: takes what the source read, records it,
// decodes it, prints it and shows it.
//
// Lives on the GUI (main) thread; the source reads on its own thread and
// wakes the session through the queue. With a window, what arrives is
// taken at most once per frame of its screen (the window shows no more):
// while bytes keep coming, a frame timer takes them, and the reader wakes
// the session only when it comes back from idle. The session owns the
// queue, the source and the decoder; the window, if any, belongs to the
// caller.
#pragma once

#include "bytesource.h"
#include "cycledecoder.h"
#include "displaywindow.h"
#include "options.h"
#include "ratemeter.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>

namespace lumora::display {

class Session : public QObject {
    Q_OBJECT
public:
    // `window` may be null (headless). Call start() once the event loop runs
    // or is about to.
    Session(const Options& options, std::unique_ptr<ByteSource> source, DisplayWindow* window);
    ~Session() override;

    // Opens the recording file; false with `error` set if it cannot.
    bool openRecording(const std::string& path, std::string& error);
    void start();

    // Ends the program: prints the summary and leaves the event loop.
    void stop(int exitCode);

private:
    void drain();
    // Called on the reader's thread.
    void wakeUp();
    void handle(const DecodedEvent& event);
    void refreshStatus();
    void printLine(const std::string& line);

    Options m_options;
    ChunkQueue m_queue;
    std::unique_ptr<ByteSource> m_source;
    DisplayWindow* m_window;
    CycleDecoder m_decoder;
    RateMeter m_cycleRate;
    RateMeter m_byteRate;
    std::ofstream m_recording;
    Nanoseconds m_started{};
    QTimer m_statusTimer;
    QTimer m_frameTimer;
    std::atomic<bool> m_wakeArmed{true};  // the next push into an empty queue wakes the session
    QString m_state;
    bool m_inputEnded = false;  // the end was reported
    bool m_stopped = false;
};

}  // namespace lumora::display
