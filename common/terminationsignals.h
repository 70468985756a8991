// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT and SIGTERM, delivered to the event loop of the main thread: both
// programs end the polite way on them (Lumora finishes its cycle and blanks
// the display, lumora-display prints its summary).
//
// The signal handler does only what is safe there: it keeps errno, and for
// the first signal it writes one byte into a non-blocking socket pair whose
// other end a QSocketNotifier watches; it never blocks. A second SIGINT or
// SIGTERM while the first is still being handled ends the program at once
// by the signal's default action, as a user's second Ctrl-C should. A
// signal that was ignored when the program started (a background job of a
// script, nohup) stays ignored.
//
// One instance at a time, owned by its parent on the main thread; it owns
// the socket pair. Destroying it puts the previous signal actions back.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace lumora {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers. `onSignal` runs once, on the parent's thread,
    // for the first SIGINT or SIGTERM. Null, with errno set, when the socket
    // pair cannot be made or another instance is installed (EBUSY); signals
    // then keep their actions.
    static TerminationSignals* install(std::function<void()> onSignal, QObject* parent);
    ~TerminationSignals() override;

private:
    TerminationSignals(int readEnd, int writeEnd, std::function<void()> onSignal, QObject* parent);

    int m_readEnd;
    int m_writeEnd;
    std::function<void()> m_onSignal;
    QSocketNotifier* m_notifier;
};

}  // namespace lumora
