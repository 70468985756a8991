// SPDX-License-Identifier: GPL-3.0-or-later
// The light display on screen: 8 x 8 lamp groups, the text line and the
// counters. It only paints what it is given; the session feeds it.
// Lives on the GUI thread.
//
// Painting is cheap enough for a cycle every 14.5 ms: the six looks of a
// lamp (three colours, lit or dark) are drawn once into pixmaps, and from
// them, the first time a group shows a lamp byte, that group's picture on
// the background (a tile), which is then only copied; both are drawn again
// when the window's size or its device pixel ratio changes. A new cycle
// asks to repaint the rectangle around the groups that changed and the one
// around the text cells that changed, and a paint draws only what meets
// the area it was asked for.
#pragma once

#include "cycledecoder.h"
#include "displaylayout.h"

#include <QPixmap>
#include <QRegion>
#include <QString>
#include <QWidget>

#include <array>
#include <chrono>

namespace lumora::display {

struct DisplayStatus {
    DecoderCounts counts;
    double cyclesPerSecond = 0;
    double bytesPerSecond = 0;
    Nanoseconds silenceThreshold{};
    CycleDecoder::SilenceState silence = CycleDecoder::SilenceState::Learning;
    int pendingBytes = 0;
    QString source;  // "/dev/pts/3", "/dev/ttyUSB0", "replay of x.rec"
    QString state;   // "", "input ended", an error
};

class DisplayWindow : public QWidget {
    Q_OBJECT
public:
    explicit DisplayWindow(QWidget* parent = nullptr);

    void showCycle(const wire::Cycle& cycle);
    void showStatus(const DisplayStatus& status);

    QSize sizeHint() const override;
    // One frame of the screen the window is on: showing cycles more often
    // than this shows nothing more.
    std::chrono::milliseconds frameInterval() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // One lamp's pixmap, its glow included, with the lamp centred.
    const QPixmap& lampPixmap(int lamp, bool lit) const { return m_lampPixmaps[lamp - 1][lit ? 1 : 0]; }
    void prepareLamps(const DisplayLayout& layout);
    // Where a group's tile goes: its lamps' pixmaps at their centres,
    // rounded to whole pixels.
    QRect groupRect(const DisplayLayout& layout, int row, int column) const;
    // The tile of a group of `column` showing `lampByte`: its eight lamps,
    // glows included, on the window's background. The columns differ only
    // in where their lamp centres fall on whole pixels; the rows not at all.
    const QPixmap& groupTile(const DisplayLayout& layout, int column, std::uint8_t lampByte);

    // Where the groups and text cells lie at the window's present size,
    // and the background around the groups.
    struct Placement {
        QSize size;
        std::array<QRect, wire::kLampBytes> groups;  // in the order of Cycle::lamps
        std::array<QRect, wire::kTextLength> textCells;
        QRegion background;  // the window without the groups
    };
    const Placement& placement();  // worked out again when the size changes

    wire::Cycle m_cycle;
    DisplayStatus m_status;
    std::array<std::array<QPixmap, 2>, 8> m_lampPixmaps;     // [lamp - 1][lit]
    std::array<QPixmap, wire::kColumns * 256> m_groupTiles;  // [(column - 1) * 256 + lamp byte]
    QSize m_lampsSize;                                       // the window size the pixmaps and tiles were drawn for
    qreal m_lampsRatio = 0;
    Placement m_placement;
    int m_lampReach = 0;  // pixmap half-width in logical pixels
};

// The colour of lamp 1..8 of a group when lit: green up to 5, amber 6 and
// 7, red 8, like a level meter.
QColor lampColour(int lamp);

}  // namespace lumora::display
