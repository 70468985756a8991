// SPDX-License-Identifier: GPL-3.0-or-later
#include "displaywindow.h"

#include "displaylayout.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRadialGradient>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace lumora::display {

namespace {

const QColor kBackground(10, 11, 14);
const QColor kLabel(150, 156, 170);
const QColor kTextLit(255, 176, 0);
const QColor kTextCell(32, 22, 6);

const char* const kColumnNames[wire::kColumns] = {"L now", "L -1", "L -2", "L -3", "R -3", "R -2", "R -1", "R now"};

QRectF toQt(const RectF& rect)
{
    return {rect.x, rect.y, rect.width, rect.height};
}

void paintLamp(QPainter& painter, QPointF centre, double diameter, double pitch, QColor colour, bool lit)
{
    const double radius = diameter / 2;
    if (!lit) {
        QColor off = colour;
        off.setHsv(colour.hue(), colour.saturation() / 2, 38);
        painter.setPen(QPen(QColor(0, 0, 0), 1));
        painter.setBrush(off);
        painter.drawEllipse(centre, radius, radius);
        return;
    }
    // The glow reaches no further than the gap to the next lamp, so a dark
    // neighbour stays dark.
    QRadialGradient glow(centre, pitch * 0.72);
    QColor halo = colour;
    halo.setAlpha(120);
    glow.setColorAt(0, halo);
    glow.setColorAt(radius / (pitch * 0.72), halo);
    halo.setAlpha(0);
    glow.setColorAt(1, halo);
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(centre, pitch * 0.72, pitch * 0.72);

    QRadialGradient body(centre, radius, centre - QPointF(radius * 0.3, radius * 0.3));
    body.setColorAt(0, colour.lighter(170));
    body.setColorAt(0.55, colour);
    body.setColorAt(1, colour.darker(130));
    painter.setBrush(body);
    painter.drawEllipse(centre, radius, radius);
}

// How far a lamp's pixmap reaches from its centre: the glow's radius and
// a pixel for the antialiased edge.
int lampReach(double pitch)
{
    return static_cast<int>(std::ceil(pitch * 0.72)) + 1;
}

QRect alignedWithEdge(const RectF& rect)
{
    return toQt(rect).toAlignedRect().adjusted(-1, -1, 1, 1);
}

QString printable(char c)
{
    const auto code = static_cast<unsigned char>(c);
    if (wire::isTextByte(code))
        return QString(QChar(code));
    return QStringLiteral("\u00b7");  // a byte the text line cannot show
}

}  // namespace

QColor lampColour(int lamp)
{
    if (lamp >= 8)
        return {255, 48, 40};
    if (lamp >= 6)
        return {255, 190, 0};
    return {40, 255, 90};
}

DisplayWindow::DisplayWindow(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("lumora-display"));
    setMinimumSize(DisplayLayout::kMinimumWidth, DisplayLayout::kMinimumHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_cycle = wire::blankCycle();
}

QSize DisplayWindow::sizeHint() const
{
    return {DisplayLayout::kDefaultWidth, DisplayLayout::kDefaultHeight};
}

void DisplayWindow::showCycle(const wire::Cycle& cycle)
{
    // Music changes most groups every cycle (the history columns move on):
    // one rectangle around the changed ones costs the paint a few tiles
    // more than needed, but spares it a region of up to 64 pieces to
    // build and test against, the dearer of the two.
    const Placement& place = placement();
    QRect groups;
    for (std::size_t i = 0; i < cycle.lamps.size(); ++i)
        if (cycle.lamps[i] != m_cycle.lamps[i])
            groups |= place.groups[i];
    QRect text;
    for (std::size_t i = 0; i < cycle.text.size(); ++i)
        if (cycle.text[i] != m_cycle.text[i])
            text |= place.textCells[i];
    update(groups);
    update(text);
    m_cycle = cycle;
}

std::chrono::milliseconds DisplayWindow::frameInterval() const
{
    const QScreen* s = screen();
    const double hz = std::clamp(s ? s->refreshRate() : 60.0, 30.0, 240.0);
    return std::chrono::milliseconds(static_cast<int>(1000 / hz));
}

QRect DisplayWindow::groupRect(const DisplayLayout& layout, int row, int column) const
{
    const int reach = lampReach(layout.pitch());
    const PointF first = layout.lampCentre(row, column, 1);
    const PointF last = layout.lampCentre(row, column, 8);
    const int left = static_cast<int>(std::round(first.x)) - reach;
    const int top = static_cast<int>(std::round(first.y)) - reach;
    return {left, top, static_cast<int>(std::round(last.x)) + reach - left, 2 * reach};
}

const DisplayWindow::Placement& DisplayWindow::placement()
{
    if (m_placement.size == size())
        return m_placement;
    const DisplayLayout layout(width(), height());
    m_placement.size = size();
    m_placement.background = QRegion(rect());
    for (int row = 1; row <= wire::kRows; ++row) {
        for (int column = 1; column <= wire::kColumns; ++column) {
            const QRect group = groupRect(layout, row, column);
            m_placement.groups[static_cast<std::size_t>((row - 1) * wire::kColumns + (column - 1))] = group;
            m_placement.background -= group;
        }
    }
    for (int i = 0; i < wire::kTextLength; ++i)
        m_placement.textCells[static_cast<std::size_t>(i)] = alignedWithEdge(layout.textCell(i));
    return m_placement;
}

const QPixmap& DisplayWindow::groupTile(const DisplayLayout& layout, int column, std::uint8_t lampByte)
{
    QPixmap& tile = m_groupTiles[static_cast<std::size_t>((column - 1) * 256 + lampByte)];
    if (!tile.isNull())
        return tile;
    const QRect area = groupRect(layout, 1, column);
    tile = QPixmap(area.size() * m_lampsRatio);
    tile.setDevicePixelRatio(m_lampsRatio);
    tile.fill(kBackground);
    QPainter painter(&tile);
    // Lamp after lamp, as they overlap: a glow lies over its left
    // neighbour's edge.
    for (int lamp = 1; lamp <= wire::kLampsPerGroup; ++lamp) {
        const PointF centre = layout.lampCentre(1, column, lamp);
        painter.drawPixmap(
            QPointF(std::round(centre.x) - m_lampReach - area.left(), std::round(centre.y) - m_lampReach - area.top()),
            lampPixmap(lamp, wire::lampLit(lampByte, lamp)));
    }
    return tile;
}

void DisplayWindow::prepareLamps(const DisplayLayout& layout)
{
    const qreal ratio = devicePixelRatioF();
    if (size() == m_lampsSize && ratio == m_lampsRatio)
        return;
    m_lampsSize = size();
    m_lampsRatio = ratio;
    for (QPixmap& tile : m_groupTiles)
        tile = QPixmap();
    const double pitch = layout.pitch();
    const double diameter = layout.lampDiameter();
    m_lampReach = lampReach(pitch);
    const int side = 2 * m_lampReach;
    for (int lamp = 1; lamp <= wire::kLampsPerGroup; ++lamp) {
        for (bool lit : {false, true}) {
            QPixmap pixmap(QSize(side, side) * ratio);
            pixmap.setDevicePixelRatio(ratio);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            paintLamp(painter, QPointF(m_lampReach, m_lampReach), diameter, pitch, lampColour(lamp), lit);
            m_lampPixmaps[static_cast<std::size_t>(lamp - 1)][lit ? 1 : 0] = pixmap;
        }
    }
}

void DisplayWindow::showStatus(const DisplayStatus& status)
{
    m_status = status;
    update(toQt(DisplayLayout(width(), height()).status()).toAlignedRect());
}

void DisplayWindow::paintEvent(QPaintEvent* event)
{
    const DisplayLayout layout(width(), height());
    prepareLamps(layout);
    const QRegion& area = event->region();
    QPainter painter(this);
    const Placement& place = placement();
    // The group tiles carry their own background: fill only around them.
    for (const QRect& rect : place.background.intersected(area))
        painter.fillRect(rect, kBackground);
    painter.setRenderHint(QPainter::Antialiasing);

    QFont textFont(QStringLiteral("DejaVu Sans Mono"));
    textFont.setStyleHint(QFont::Monospace);
    textFont.setBold(true);
    textFont.setPixelSize(static_cast<int>(layout.textCell(0).height * 0.72));
    painter.setFont(textFont);
    for (int i = 0; i < wire::kTextLength; ++i) {
        if (!area.intersects(place.textCells[static_cast<std::size_t>(i)]))
            continue;
        const QRectF cell = toQt(layout.textCell(i));
        painter.setPen(Qt::NoPen);
        painter.setBrush(kTextCell);
        painter.drawRoundedRect(cell, 3, 3);
        painter.setPen(kTextLit);
        painter.drawText(cell, Qt::AlignCenter, printable(m_cycle.text[static_cast<std::size_t>(i)]));
    }

    QFont labelFont = font();
    labelFont.setPixelSize(12);
    painter.setFont(labelFont);
    painter.setPen(kLabel);
    for (int column = 1; column <= wire::kColumns; ++column)
        if (area.intersects(alignedWithEdge(layout.columnHeader(column))))
            painter.drawText(toQt(layout.columnHeader(column)), Qt::AlignCenter,
                             QString::fromLatin1(kColumnNames[column - 1]));
    for (int row = 1; row <= wire::kRows; ++row)
        if (area.intersects(alignedWithEdge(layout.rowLabel(row))))
            painter.drawText(toQt(layout.rowLabel(row)), Qt::AlignVCenter | Qt::AlignRight,
                             QStringLiteral("band %1").arg(row - 1));

    for (std::size_t i = 0; i < place.groups.size(); ++i) {
        const QRect& group = place.groups[i];
        const int column = static_cast<int>(i % wire::kColumns) + 1;
        if (area.intersects(group))
            painter.drawPixmap(group.topLeft(), groupTile(layout, column, m_cycle.lamps[i]));
    }

    if (!area.intersects(alignedWithEdge(layout.status())))
        return;
    const DisplayStatus& s = m_status;
    const QString threshold =
        QStringLiteral("%1 ms%2")
            .arg(std::chrono::duration<double, std::milli>(s.silenceThreshold).count(), 0, 'f', 1)
            .arg(s.silence == CycleDecoder::SilenceState::Learned    ? QStringLiteral(" (learned)")
                 : s.silence == CycleDecoder::SilenceState::Learning ? QStringLiteral(" (learning)")
                                                                     : QString());
    const QString counters = QStringLiteral("cycles %1    blankings %2    resyncs %3    realigned %4    dropped %5    "
                                            "bytes %6    %7 cycles/s    %8 bytes/s")
                                 .arg(s.counts.cycles)
                                 .arg(s.counts.blankings)
                                 .arg(s.counts.resyncs)
                                 .arg(s.counts.realignments)
                                 .arg(s.counts.droppedBytes)
                                 .arg(s.counts.bytes)
                                 .arg(s.cyclesPerSecond, 0, 'f', 1)
                                 .arg(s.bytesPerSecond, 0, 'f', 0);
    const QString line2 = QStringLiteral("%1    silence threshold %2    counting %3/%4    "
                                         "lamp 1 left, lamp 8 right%5")
                              .arg(s.source, threshold)
                              .arg(s.pendingBytes)
                              .arg(wire::kCycleBytes)
                              .arg(s.state.isEmpty() ? QString() : QStringLiteral("    ") + s.state);
    labelFont.setPixelSize(13);
    painter.setFont(labelFont);
    painter.setPen(kLabel);
    painter.drawText(toQt(layout.status()), Qt::AlignLeft | Qt::AlignVCenter, counters + QLatin1Char('\n') + line2);
}

}  // namespace lumora::display
