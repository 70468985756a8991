// SPDX-License-Identifier: GPL-3.0-or-later
#include "bar.h"

#include "twips.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <utility>

namespace lumora {

QColor colorFromBgr(unsigned bgr)
{
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

Bar::Bar(GroupFrame& frame, float left, float top, float width, float height, QColor fill)
    : m_frame(frame), m_left(left), m_top(top), m_width(width), m_height(height), m_fill(fill)
{
}

void Bar::setLeft(float twips)
{
    if (twips != m_left)
        moveEdges(twips, m_width);
}

void Bar::setWidth(float twips)
{
    if (twips != m_width)
        moveEdges(m_left, twips);
}

// Keeps the new edges exactly and repaints only the strips between an old
// edge and its new place: no other pixel of the frame can change.
void Bar::moveEdges(float left, float width)
{
    const QRectF before = pixelRect();
    m_left = left;
    m_width = width;
    const QRectF after = pixelRect();
    QRegion changed;
    for (const auto& [from, to] : {std::pair{before.left(), after.left()}, std::pair{before.right(), after.right()}})
        if (from != to)
            changed += QRectF(QPointF(std::min(from, to), after.top()), QPointF(std::max(from, to), after.bottom()))
                           .toAlignedRect();
    m_frame.update(changed);
}

QRectF Bar::pixelRect() const
{
    return QRectF(twipsToPixels(m_left), twipsToPixels(m_top), twipsToPixels(m_width), twipsToPixels(m_height));
}

GroupFrame::GroupFrame(const QString& caption, QWidget* parent) : QWidget(parent), m_caption(caption)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

Bar& GroupFrame::addBar(float left, float top, float width, float height, QColor fill)
{
    m_bars.push_back(std::make_unique<Bar>(*this, left, top, width, height, fill));
    return *m_bars.back();
}

void GroupFrame::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), m_back);

    const QFontMetrics metrics(font());
    const int lineY = metrics.height() / 2;
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawRect(QRectF(0.5, lineY + 0.5, width() - 1.0, height() - lineY - 1.0));

    // A bar's repaint (68 times a second during a run) lies below the
    // caption: shaping its text costs more than the bar strips themselves.
    if (event->rect().top() < metrics.height()) {
        const int captionX = 6;
        const QRect captionRect(captionX, 0, metrics.horizontalAdvance(m_caption) + 4, metrics.height());
        painter.fillRect(captionRect, m_back);
        painter.setPen(m_text);
        painter.drawText(captionRect, Qt::AlignCenter, m_caption);
    }

    for (const auto& bar : m_bars)
        if (event->region().intersects(bar->pixelRect().toAlignedRect()))
            painter.fillRect(bar->pixelRect(), bar->fill());  // fill only: no outline
}

}  // namespace lumora
