// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated display as a person would see the real one: the eight rows
// of eight lamp groups (row 1, band 0, at the top; in each group lamp 1 on
// the left) and the 20x2 LCD below them. Runs on the GUI thread; it only
// paints the state it is given.
#pragma once

#include "simulateddisplay.h"

#include <QWidget>

namespace lumora::sim {

class SimWindow : public QWidget {
    Q_OBJECT
public:
    explicit SimWindow(QWidget* parent = nullptr);
    void setState(const DisplayState& state);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DisplayState m_state;
};

}  // namespace lumora::sim
