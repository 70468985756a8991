// SPDX-License-Identifier: GPL-3.0-or-later
#include "simwindow.h"

#include "cycleformat.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

namespace lumora::sim {
namespace {

constexpr int kLampPitch = 12;  // px, lamp centre to centre
constexpr int kGroupGap = 10;   // px between groups, doubled between the channels
constexpr int kMargin = 16;
constexpr int kLcdHeight = 70;
const QColor kBackground(20, 20, 24);
const QColor kLampOff(50, 18, 18);
const QColor kLampOn(255, 60, 40);
const QColor kLcdBacklight(90, 140, 30);
const QColor kLcdText(20, 30, 10);

int groupLeft(int group)
{
    return kMargin + group * (wire::kLampsPerGroup * kLampPitch + kGroupGap) + (group >= 4 ? kGroupGap : 0);
}

}  // namespace

SimWindow::SimWindow(QWidget* parent) : QWidget(parent)
{
    setWindowTitle("lumora-sim: the simulated light display");
    const int width = groupLeft(kGroups) - kGroupGap + kMargin;
    const int height = kMargin + kRows * kLampPitch * 2 + kMargin + kLcdHeight + kMargin;
    setFixedSize(width, height);
    for (auto& line : m_state.lines)
        line = std::string(kLcdColumns, ' ');
}

void SimWindow::setState(const DisplayState& state)
{
    if (state.lamps == m_state.lamps && state.lines == m_state.lines)
        return;
    m_state = state;
    update();
}

void SimWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), kBackground);
    painter.setPen(Qt::NoPen);
    const double diameter = kLampPitch * 0.75;
    for (int row = 0; row < kRows; ++row) {
        const double y = kMargin + row * kLampPitch * 2 + kLampPitch * 0.5;
        for (int group = 0; group < kGroups; ++group) {
            const std::uint8_t lit = m_state.lamps[static_cast<std::size_t>(row * kGroups + group)];
            for (int lamp = 0; lamp < wire::kLampsPerGroup; ++lamp) {
                const double x = groupLeft(group) + lamp * kLampPitch + kLampPitch * 0.5;
                painter.setBrush(((lit >> lamp) & 1) ? kLampOn : kLampOff);
                painter.drawEllipse(QPointF(x, y), diameter / 2, diameter / 2);
            }
        }
    }
    const QRect lcd(kMargin, kMargin + kRows * kLampPitch * 2 + kMargin, width() - 2 * kMargin, kLcdHeight);
    painter.setBrush(kLcdBacklight);  // the backlight is on whenever the board is
    painter.drawRoundedRect(lcd, 6, 6);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(kLcdHeight / 3);
    painter.setFont(font);
    painter.setPen(kLcdText);
    // The 20 character cells, centred as a block.
    const int cell = QFontMetrics(font).horizontalAdvance(QLatin1Char('M'));
    const int left = lcd.x() + (lcd.width() - kLcdColumns * cell) / 2;
    for (int line = 0; line < kLcdLines; ++line) {
        const std::string& text = m_state.lines[static_cast<std::size_t>(line)];
        const QRect lineRect(left, lcd.y() + 5 + line * (kLcdHeight - 10) / 2, kLcdColumns * cell,
                             (kLcdHeight - 10) / 2);
        painter.drawText(lineRect, Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromLatin1(text.data(), static_cast<int>(text.size())));
    }
}

}  // namespace lumora::sim
