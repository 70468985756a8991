// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmmain.h"

#include "errorreport.h"
#include "marquee.h"
#include "meters.h"
#include "modvbvis10.h"
#include "nowplaying.h"
#include "serialline.h"
#include "streamingrun.h"
#include "twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace lumora {

namespace {

// Window design, in twips.
constexpr int kClientWidth = 7095;
constexpr int kClientHeight = 3945;
constexpr int kScrollIntervalMs = 500;

// Fill colours of the spectrum bands 0..7, 0x00BBGGRR: red, orange, yellow,
// green, teal, blue, purple, dark grey.
constexpr unsigned kBandColours[8] = {0x0000FF, 0x0080FF, 0x00FFFF, 0x00C000, 0xC0C000, 0xFF0000, 0xC000C0, 0x404040};

const char* const kCaption = "Lumora - Winamp Plugin - by the Lumora developers";
const char* const kInstallFailureText = "Sorry, there was a problem installing the plugin.";
const char* const kInstallFailureTitle = "WinAmp DERudu Demo";

// Back colour black, text white.
void styleOnBlack(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colorFromBgr(0x000000));
    palette.setColor(QPalette::WindowText, colorFromBgr(0xFFFFFF));
    widget->setPalette(palette);
    widget->setBackgroundRole(QPalette::Window);
    widget->setAutoFillBackground(true);
}

template <std::size_t N> Bar& barAt(const std::array<Bar*, N>& group, std::int32_t index, const char* name)
{
    if (index < 0 || static_cast<std::size_t>(index) >= N)
        throw Failure(FailureNumber::InvalidChannel,
                      std::string(name) + "(" + std::to_string(index) + ") does not exist");
    return *group[static_cast<std::size_t>(index)];
}

}  // namespace

FrmMain::FrmMain(QWidget* parent) : QWidget(parent), m_marqueeText(kInitialMarqueeText)
{
    setObjectName("FrmMain");
    setWindowTitle(kCaption);
    setFixedSize(kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel);
    styleOnBlack(this);

    fraVuMeter = new GroupFrame("VU Meter", this);
    fraVuMeter->setObjectName("fraVuMeter");
    fraVuMeter->setGeometry(twipsRect(120, 120, 6855, 735));
    m_shVu[0] = &fraVuMeter->addBar(240, 240, 6375, 135, colorFromBgr(0x0000FF));
    m_shVu[1] = &fraVuMeter->addBar(240, 480, 6375, 135, colorFromBgr(0x00C000));

    Frame1 = new GroupFrame("Spectrum Analyzer", this);
    Frame1->setObjectName("Frame1");
    Frame1->setGeometry(twipsRect(120, 960, 6855, 2415));
    for (int i = 0; i < 8; ++i) {
        const auto top = static_cast<float>(360 + 240 * i);
        const QColor fill = colorFromBgr(kBandColours[i]);
        m_shSpectrumL[static_cast<std::size_t>(i)] = &Frame1->addBar(2640, top, 795, 135, fill);
        m_shSpectrumR[static_cast<std::size_t>(i)] = &Frame1->addBar(3480, top, 800, 135, fill);
    }

    Check1 = new QCheckBox("Bar Modus", this);
    Check1->setObjectName("Check1");
    Check1->setGeometry(twipsRect(3840, 3480, 1215, 375));
    styleOnBlack(Check1);

    Command2 = new QPushButton("Stop", this);
    Command2->setObjectName("Command2");
    Command2->setGeometry(twipsRect(5160, 3480, 855, 375));
    Command2->setEnabled(false);

    Command1 = new QPushButton("Start", this);
    Command1->setObjectName("Command1");
    Command1->setGeometry(twipsRect(6120, 3480, 855, 375));

    for (QPushButton* button : {Command1, Command2}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    // Tab order: Start, then the two frames (which take no focus), Stop, Bar Modus.
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Check1);

    connect(Command1, &QPushButton::clicked, this, &FrmMain::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &FrmMain::Command2_Click);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kScrollIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &FrmMain::Timer1_Timer);
    Timer1->start();

    MSComm1 = new SerialLine([this] { m_pump.yield(); }, this);
    MSComm1->setObjectName("MSComm1");
}

FrmMain::~FrmMain() = default;

Bar& FrmMain::shVu(std::int32_t index)
{
    return barAt(m_shVu, index, "shVu");
}

Bar& FrmMain::shSpectrumL(std::int32_t index)
{
    return barAt(m_shSpectrumL, index, "shSpectrumL");
}

Bar& FrmMain::shSpectrumR(std::int32_t index)
{
    return barAt(m_shSpectrumR, index, "shSpectrumR");
}

bool FrmMain::Form_Load()
{
    bool installed = false;
    guarded([&] {
        if (modVbVis10::InstallPlugin() == 0) {
            if (errorBoxCanBeSeen()) {
                QMessageBox box(QMessageBox::NoIcon, kInstallFailureTitle, kInstallFailureText, QMessageBox::Ok);
                box.exec();
            } else {  // a box nobody sees would wait for ever
                std::fprintf(stderr, "lumora: %s\n", kInstallFailureText);
            }
            return;
        }
        VuMaxWidth = meters::roundToInt32(shVu(0).width());
        SpectrumMaxWidth = meters::roundToInt32(shSpectrumL(0).width());
        SpectrumRightEdge = meters::roundToInt32(static_cast<double>(shSpectrumL(0).width()) + shSpectrumL(0).left());
        installed = true;
    });
    return installed;
}

void FrmMain::SetVu(std::int32_t channel)
{
    const std::int16_t value = modVbVis10::GetVu(channel);
    shVu(channel).setWidth(static_cast<float>(meters::vuWidth(value, VuMaxWidth)));
}

void FrmMain::SetSpectrum(std::int32_t channel)
{
    const auto widths = meters::spectrumWidths(modVbVis10::GetSpectrum(channel), SpectrumMaxWidth);
    for (int b = 0; b < meters::kBands; ++b) {
        const std::int32_t w = widths[static_cast<std::size_t>(b)];
        if (channel == 0) {
            shSpectrumL(b).setWidth(static_cast<float>(w));
            shSpectrumL(b).setLeft(static_cast<float>(SpectrumRightEdge - w));
        } else {
            shSpectrumR(b).setWidth(static_cast<float>(w));
        }
    }
}

void FrmMain::UpdateFrameMatrix()
{
    std::array<float, LampFrame::kSize> left{};
    std::array<float, LampFrame::kSize> right{};
    for (int b = 0; b < LampFrame::kSize; ++b) {
        left[static_cast<std::size_t>(b)] = shSpectrumL(b).width();
        right[static_cast<std::size_t>(b)] = shSpectrumR(b).width();
    }
    lumora::UpdateFrameMatrix(FrameMatrix, left, right, [this] { return Check1->isChecked(); });
}

void FrmMain::consumeScrollTick()
{
    consumeTick(ScrollFlag, MarqueeText);
}

void FrmMain::Timer1_Timer()
{
    ScrollFlag = -1;
}

void FrmMain::Command1_Click()
{
    guarded([this] {
        StopFlag = 0;
        // Stop takes the focus before Start gives it up; otherwise Qt
        // passes it on to Bar Modus, and Space would toggle the mode
        // instead of stopping.
        Command2->setEnabled(true);
        Command2->setFocus(Qt::OtherFocusReason);
        Command1->setEnabled(false);
        m_running = true;
        MSComm1->open();
        MarqueeText = m_nowPlaying ? m_nowPlaying->text() : m_marqueeText;
        std::uint64_t textChanges = m_nowPlaying ? m_nowPlaying->changes() : 0;
        while (StopFlag == 0) {
            // The music is taken for a cycle once its first lamp group can
            // go out, not a whole buffer earlier.
            MSComm1->waitForRoom(wire::kColumns);
            if (m_nowPlaying && m_nowPlaying->changes() != textChanges) {
                textChanges = m_nowPlaying->changes();
                MarqueeText = m_nowPlaying->text();
            }
            consumeScrollTick();
            SetVu(0);
            SetVu(1);
            SetSpectrum(0);
            SetSpectrum(1);
            UpdateFrameMatrix();
            const wire::Cycle cycle = currentCycle(FrameMatrix, MarqueeText);
            emit cycleSending(cycle);
            sendSteps(*MSComm1, wire::cycleSteps(cycle), m_pump);
        }
        sendSteps(*MSComm1, wire::blankingSteps(), m_pump);
        MSComm1->close();
        Command1->setEnabled(true);
        Command1->setFocus(Qt::OtherFocusReason);
        m_running = false;
    });
    if (m_closeRequested)
        close();
}

void FrmMain::Command2_Click()
{
    Command2->setEnabled(false);
    StopFlag = -1;
}

void FrmMain::requestClose()
{
    if (!m_running) {
        close();
        return;
    }
    m_closeRequested = true;
    if (Command2->isEnabled())
        Command2_Click();
}

void FrmMain::closeEvent(QCloseEvent* event)
{
    if (m_running) {
        event->ignore();
        requestClose();
        return;
    }
    QWidget::closeEvent(event);
}

void FrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        Command1->setFocus(Qt::OtherFocusReason);
    }
}

}  // namespace lumora
