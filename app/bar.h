// SPDX-License-Identifier: GPL-3.0-or-later
// Bars and the group frames that hold them.
//
// A Bar is a solid rectangle without outline whose left edge and width are
// single-precision twips, kept exactly as set: the frame update reads the
// widths back, so they are never snapped to pixels. Its position is
// relative to the outer top-left corner of its group frame, caption
// included. Bars belong to the window thread.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

namespace lumora {

class GroupFrame;

class Bar {
public:
    Bar(GroupFrame& frame, float left, float top, float width, float height, QColor fill);

    float left() const { return m_left; }
    float top() const { return m_top; }
    float width() const { return m_width; }
    float height() const { return m_height; }
    QColor fill() const { return m_fill; }

    void setLeft(float twips);
    void setWidth(float twips);

    // The rectangle in logical pixels, relative to the frame.
    QRectF pixelRect() const;

private:
    void moveEdges(float left, float width);

    GroupFrame& m_frame;
    float m_left;
    float m_top;
    float m_width;
    float m_height;
    QColor m_fill;
};

// A captioned group frame: a thin border with the caption set into its top
// edge, drawn on the window's black background, and the bars inside it.
class GroupFrame : public QWidget {
    Q_OBJECT
public:
    GroupFrame(const QString& caption, QWidget* parent);

    QString caption() const { return m_caption; }
    QColor backColor() const { return m_back; }
    QColor textColor() const { return m_text; }

    // Creates a bar inside this frame; the frame owns it.
    Bar& addBar(float left, float top, float width, float height, QColor fill);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
    QColor m_back{0x00, 0x00, 0x00};
    QColor m_text{0xFF, 0xFF, 0xFF};
    std::vector<std::unique_ptr<Bar>> m_bars;
};

// A colour written 0x00BBGGRR, blue in the high byte and red in the low one.
QColor colorFromBgr(unsigned bgr);

}  // namespace lumora
