// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: Lumora's real window streaming into a display program that
// listens on a pseudo-terminal (lumora-display or lumora-sim). Needs
// lumora_app, the test bridge and a QApplication.
#pragma once

#include "frmmain.h"
#include "streamingrun.h"
#include "testbridge.h"
#include "wireformat.h"

#include <QCheckBox>
#include <QProcess>
#include <QPushButton>

#include <random>
#include <string>
#include <vector>

namespace lumora::testing {

// A spectrum text of 100 values at a random loudness.
inline std::string randomSpectrum(std::mt19937& random)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    const int loudness = static_cast<int>(random() % 16);
    for (int i = 0; i < 2 * 100; ++i)
        text += digits[i % 2 == 0 ? random() % (loudness + 1) : random() % 16];
    return text;
}

// Starts the display program and reads the pseudo-terminal it names in its
// first line, "<program>: listening on PATH"; empty if it names none.
inline QString startListener(QProcess& listener, const QString& program, const QStringList& arguments)
{
    listener.start(program, arguments);
    if (!listener.waitForStarted(5000) || !listener.waitForReadyRead(10000))
        return {};
    const QString first = QString::fromUtf8(listener.readLine()).trimmed();
    const QString marker = QStringLiteral(": listening on ");
    const auto at = first.indexOf(marker);
    return at < 0 ? QString() : first.mid(at + marker.size());
}

// Presses Start and lets the run send `count` cycles, then presses Stop and
// returns when the run has blanked the display and closed the port. As each
// cycle goes out it changes the bridge's answers and the mode, so that no
// two cycles look alike. Returns the cycles in the order they were sent.
inline std::vector<wire::Cycle> streamCycles(FrmMain& frm, TestBridge& lib, std::mt19937& random, std::size_t count)
{
    lib.setCount(100);
    lib.setSpectrumText(0, randomSpectrum(random));
    lib.setSpectrumText(1, randomSpectrum(random));
    std::vector<wire::Cycle> sent;
    const auto connection = QObject::connect(&frm, &FrmMain::cycleSending, [&](const wire::Cycle& cycle) {
        sent.push_back(cycle);
        lib.setSpectrumText(0, randomSpectrum(random));
        lib.setSpectrumText(1, randomSpectrum(random));
        frm.Check1->setChecked(random() % 2 == 0);
        if (sent.size() == count)
            frm.Command2->click();
    });
    frm.Command1->click();
    QObject::disconnect(connection);
    return sent;
}

}  // namespace lumora::testing
