// SPDX-License-Identifier: GPL-3.0-or-later
// The light display on screen: 8 x 8 lamp groups, the text line and the
// counters. It only paints what it is given; the session feeds it.
// Lives on the GUI thread.
#pragma once

#include "cycledecoder.h"

#include <QString>
#include <QWidget>

namespace lumora::display {

struct DisplayStatus {
    DecoderCounts counts;
    double cyclesPerSecond = 0;
    double bytesPerSecond = 0;
    Nanoseconds silenceThreshold{};
    bool silenceLearned = false;
    int pendingBytes = 0;
    QString source;   // "/dev/pts/3", "/dev/ttyUSB0", "replay of x.rec"
    QString state;    // "", "input ended", an error
};

class DisplayWindow : public QWidget {
    Q_OBJECT
public:
    explicit DisplayWindow(QWidget* parent = nullptr);

    void showCycle(const wire::Cycle& cycle);
    void showStatus(const DisplayStatus& status);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    wire::Cycle m_cycle;
    DisplayStatus m_status;
};

// The colour of lamp 1..8 of a group when lit: green up to 5, amber 6 and
// 7, red 8, like a level meter.
QColor lampColour(int lamp);

}  // namespace lumora::display
