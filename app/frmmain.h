// SPDX-License-Identifier: GPL-3.0-or-later
// FrmMain: Lumora's only window. It shows the two VU bars and the mirrored
// eight-band spectrum, holds the Start/Stop buttons, the Bar Modus check
// box, the 500 ms scroll timer and the serial line, and owns every piece of
// state that outlives a handler. Everything runs on the window thread; a
// streaming run keeps the window alive by passing through the event pump
// between its writes.
#pragma once

#include "bar.h"
#include "eventpump.h"
#include "framematrix.h"
#include "wireformat.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <string>

class QCheckBox;
class QPushButton;
class QTimer;

namespace lumora {

class NowPlaying;
class SerialLine;

class FrmMain : public QWidget {
    Q_OBJECT
public:
    explicit FrmMain(QWidget* parent = nullptr);
    ~FrmMain() override;

    // Start-up, before the window is shown: installs the plug-in and reads
    // the design geometry. False when the installation failed and the user
    // has dismissed the message; the program then ends without showing the
    // window.
    bool Form_Load();

    void SetVu(std::int32_t channel);
    void SetSpectrum(std::int32_t channel);
    void UpdateFrameMatrix();

    // A pending scroll tick is consumed at the start of every cycle.
    void consumeScrollTick();

    // Bars by group and index; an index that names no bar throws.
    Bar& shVu(std::int32_t index);
    Bar& shSpectrumL(std::int32_t index);
    Bar& shSpectrumR(std::int32_t index);

    // True while Start's streaming run is active.
    bool running() const { return m_running; }

    // The run's yields: the only moments in which a run services the window.
    EventPump& pump() { return m_pump; }

    // The text every run starts with, as the display's line shows it
    // (marqueeText()); by default the fixed marquee text.
    void setMarqueeText(std::string text) { m_marqueeText = std::move(text); }
    // What the media player plays instead: a run starts with its text, and
    // takes a new one at the start of the next cycle, from its beginning.
    void setNowPlaying(NowPlaying* nowPlaying) { m_nowPlaying = nowPlaying; }

    // Ends the program the polite way: while a run is active it acts as
    // Stop, lets the run blank the display and close the port, then closes
    // the window. Used for the window's close button and SIGINT/SIGTERM.
    void requestClose();

    // Controls, with the names of the window's design.
    GroupFrame* fraVuMeter = nullptr;
    GroupFrame* Frame1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QPushButton* Command1 = nullptr;  // Start
    QPushButton* Command2 = nullptr;  // Stop
    QTimer* Timer1 = nullptr;
    SerialLine* MSComm1 = nullptr;

    // Form-level state. Flags hold -1 (true) or 0 (false) only.
    std::int16_t StopFlag = 0;
    std::int16_t ScrollFlag = 0;
    std::int32_t VuMaxWidth = 0;
    std::int32_t SpectrumMaxWidth = 0;
    std::int32_t SpectrumRightEdge = 0;
    LampFrame FrameMatrix;  // the lamp frame with its history, never cleared
    std::string MarqueeText;

signals:
    // A run is about to send this cycle to the display.
    void cycleSending(const lumora::wire::Cycle& cycle);

public slots:
    void Command1_Click();
    void Command2_Click();
    void Timer1_Timer();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    std::array<Bar*, 2> m_shVu{};
    std::array<Bar*, 8> m_shSpectrumL{};
    std::array<Bar*, 8> m_shSpectrumR{};
    EventPump m_pump;
    std::string m_marqueeText;
    NowPlaying* m_nowPlaying = nullptr;
    bool m_running = false;
    bool m_closeRequested = false;
    bool m_shownOnce = false;
};

}  // namespace lumora
