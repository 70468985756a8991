// SPDX-License-Identifier: GPL-3.0-or-later
// The real window on Qt's offscreen platform, with the test bridge library.
#include "errorreport.h"
#include "frmmain.h"
#include "testbridge.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>

using lumora::FrmMain;
using lumora::testing::TestBridge;

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { lib.reset(); }

    // Hex text of a spectrum: two digits per value.
    static std::string hex(const std::vector<int>& values)
    {
        std::string text;
        char pair[3];
        for (int v : values) {
            std::snprintf(pair, sizeof pair, "%02X", v);
            text += pair;
        }
        return text;
    }

    TestBridge lib;
};

TEST_F(WindowTest, FirstDisplayShowsTheDesignLayout)
{
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    // Before the event loop runs, which may let the scroll timer tick.
    EXPECT_EQ(frm.StopFlag, 0);
    EXPECT_EQ(frm.ScrollFlag, 0);
    frm.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frm));

    EXPECT_TRUE(frm.windowTitle().startsWith("Lumora - Winamp Plugin - "));
    EXPECT_EQ(frm.size(), QSize(473, 263));  // 7095 x 3945 twips
    EXPECT_EQ(frm.minimumSize(), frm.maximumSize()) << "fixed size";
    EXPECT_EQ(frm.palette().color(QPalette::Window), QColor(Qt::black));

    EXPECT_EQ(frm.fraVuMeter->geometry(), QRect(8, 8, 457, 49));
    EXPECT_EQ(frm.Frame1->geometry(), QRect(8, 64, 457, 161));
    EXPECT_EQ(frm.fraVuMeter->caption(), "VU Meter");
    EXPECT_EQ(frm.Frame1->caption(), "Spectrum Analyzer");
    EXPECT_EQ(frm.Frame1->textColor(), QColor(Qt::white));
    EXPECT_EQ(frm.Check1->geometry(), QRect(256, 232, 81, 25));
    EXPECT_EQ(frm.Command2->geometry(), QRect(344, 232, 57, 25));
    EXPECT_EQ(frm.Command1->geometry(), QRect(408, 232, 57, 25));

    EXPECT_EQ(frm.shVu(0).width(), 6375.0f);
    EXPECT_EQ(frm.shVu(1).top(), 480.0f);
    EXPECT_EQ(frm.shVu(0).fill(), QColor(255, 0, 0));
    EXPECT_EQ(frm.shVu(1).fill(), QColor(0, 192, 0));
    const QColor bandColours[8] = {{255, 0, 0},   {255, 128, 0}, {255, 255, 0}, {0, 192, 0},
                                   {0, 192, 192}, {0, 0, 255},   {192, 0, 192}, {64, 64, 64}};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(frm.shSpectrumL(i).left(), 2640.0f);
        EXPECT_EQ(frm.shSpectrumL(i).width(), 795.0f);
        EXPECT_EQ(frm.shSpectrumR(i).left(), 3480.0f);
        EXPECT_EQ(frm.shSpectrumR(i).width(), 800.0f);
        EXPECT_EQ(frm.shSpectrumL(i).top(), 360.0f + 240.0f * i);
        EXPECT_EQ(frm.shSpectrumL(i).fill(), bandColours[i]) << "band " << i;
        EXPECT_EQ(frm.shSpectrumR(i).fill(), bandColours[i]) << "band " << i;
    }

    EXPECT_TRUE(frm.Command1->isEnabled());
    EXPECT_FALSE(frm.Command2->isEnabled());
    EXPECT_FALSE(frm.Check1->isChecked());
    EXPECT_EQ(frm.Check1->text(), "Bar Modus");
    for (QPushButton* button : {frm.Command1, frm.Command2}) {
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
    EXPECT_TRUE(frm.Timer1->isActive());
    EXPECT_EQ(frm.Timer1->interval(), 500);
    EXPECT_EQ(QApplication::focusWidget(), frm.Command1);

    // Tab order: Start, Stop, Bar Modus (Stop takes focus once enabled).
    frm.Command2->setEnabled(true);
    std::vector<QWidget*> order;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(order, (std::vector<QWidget*>{frm.Command2, frm.Check1, frm.Command1}));
    frm.Command2->setEnabled(false);
}

TEST_F(WindowTest, BarsArePaintedAsSolidRectanglesInTheirColours)
{
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    frm.shSpectrumR(2).setWidth(300);
    const QImage image = frm.grab().toImage();
    // shSpectrumR(2): frame at (8, 64) px, bar at (232, 56) px inside it, 20 x 9 px.
    EXPECT_EQ(image.pixelColor(8 + 232 + 1, 64 + 56 + 1), QColor(255, 255, 0));
    EXPECT_EQ(image.pixelColor(8 + 232 + 10, 64 + 56 + 4), QColor(255, 255, 0));
    EXPECT_EQ(image.pixelColor(8 + 232 + 22, 64 + 56 + 4), QColor(Qt::black)) << "past the bar's width";
    // shVu(0) in full: (8 + 16, 8 + 16) px, 425 x 9 px.
    EXPECT_EQ(image.pixelColor(8 + 16 + 424, 8 + 16 + 8), QColor(255, 0, 0));
}

TEST_F(WindowTest, StartUpReadsTheDesignGeometry)
{
    FrmMain frm;
    EXPECT_EQ(frm.VuMaxWidth, 0);
    ASSERT_TRUE(frm.Form_Load());
    EXPECT_EQ(frm.VuMaxWidth, 6375);
    EXPECT_EQ(frm.SpectrumMaxWidth, 795);
    EXPECT_EQ(frm.SpectrumRightEdge, 3435);
    EXPECT_EQ(lib.calls().front().function, TESTBRIDGE_INSTALL_PLUGIN);
}

// Here, on the offscreen platform, the message goes to stderr: a box would
// wait unseen. The program tests see the box on a real X server.
TEST_F(WindowTest, FailedInstallationGivesTheMessageAndNeverTheWindow)
{
    lib.setInstallResult(0);
    FrmMain frm;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(frm.Form_Load());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "lumora: Sorry, there was a problem installing the plugin.\n");
    EXPECT_FALSE(frm.isVisible());
    EXPECT_EQ(frm.VuMaxWidth, 0) << "no step after the message runs";
}

TEST_F(WindowTest, MetersFollowTheBridge)
{
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    lib.setVu(0, 8000);
    lib.setVu(1, -5);
    frm.SetVu(0);
    frm.SetVu(1);
    EXPECT_EQ(frm.shVu(0).width(), 3188.0f);
    EXPECT_EQ(frm.shVu(1).width(), 0.0f);
    EXPECT_EQ(frm.shVu(0).left(), 240.0f);

    // Ten values: band b gets value b, bands 7..9 fold into band 7.
    lib.setCount(10);
    lib.setSpectrumText(0, hex({255, 255, 255, 255, 255, 255, 255, 100, 100, 100}));
    lib.setSpectrumText(2, hex({0, 0, 0, 0, 0, 0, 0, 0, 0, 255}));
    frm.SetSpectrum(0);
    frm.SetSpectrum(2);
    // (4b + 7) * 795 / 56000 * 255 for b = 0..6, 35 * 795 / 56000 * 300 for band 7.
    const float expectedLeft[8] = {25, 40, 54, 69, 83, 98, 112, 149};
    for (int b = 0; b < 8; ++b) {
        EXPECT_EQ(frm.shSpectrumL(b).width(), expectedLeft[b]) << "band " << b;
        EXPECT_EQ(frm.shSpectrumL(b).left(), 3435.0f - expectedLeft[b]) << "band " << b;
        EXPECT_EQ(frm.shSpectrumR(b).left(), 3480.0f) << "band " << b;
    }
    EXPECT_EQ(frm.shSpectrumR(7).width(), 127.0f);  // 126.703125 rounded
    EXPECT_EQ(frm.shSpectrumR(0).width(), 0.0f);
}

TEST_F(WindowTest, AbsentSpectrumZeroesTheChannelsBars)
{
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    lib.setCount(0);
    frm.SetSpectrum(0);
    frm.SetSpectrum(1);
    for (int b = 0; b < 8; ++b) {
        EXPECT_EQ(frm.shSpectrumL(b).width(), 0.0f);
        EXPECT_EQ(frm.shSpectrumL(b).left(), 3435.0f);
        EXPECT_EQ(frm.shSpectrumR(b).width(), 0.0f);
    }
}

TEST_F(WindowTest, FrameRowsAreReadBackFromTheBars)
{
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    frm.Check1->setChecked(true);
    // Ten values, one per tenth. Left: band 0 gets 255 (width 25, level 0),
    // band 7 three times 255.
    lib.setCount(10);
    lib.setSpectrumText(0, hex({255, 0, 0, 0, 0, 0, 0, 255, 255, 255}));
    lib.setSpectrumText(1, hex({0, 0, 0, 200, 0, 0, 0, 0, 0, 0}));
    frm.SetSpectrum(0);
    frm.SetSpectrum(1);
    frm.UpdateFrameMatrix();
    // Band 7 left: 35 * 795 / 56000 * 765 = 380.1 -> 380 -> level 4 -> 15.
    // Band 3 right: 19 * 795 / 56000 * 200 = 53.9 -> 54 -> level 1 -> 1.
    EXPECT_EQ(frm.FrameMatrix(8, 1), 15);
    EXPECT_EQ(frm.FrameMatrix(8, 8), 0);
    EXPECT_EQ(frm.FrameMatrix(4, 8), 1);
    EXPECT_EQ(frm.FrameMatrix(1, 1), 0);

    frm.Check1->setChecked(false);
    frm.SetSpectrum(0);
    frm.SetSpectrum(1);
    frm.UpdateFrameMatrix();
    EXPECT_EQ(frm.FrameMatrix(8, 1), 8) << "dot mode, level 4";
    EXPECT_EQ(frm.FrameMatrix(8, 2), 15) << "the bar-mode byte aged one column";
    EXPECT_EQ(frm.FrameMatrix(4, 7), 1);
}

TEST_F(WindowTest, TimerOnlyMarksATick)
{
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    frm.MarqueeText = "abc";
    ASSERT_TRUE(QTest::qWaitFor([&] { return frm.ScrollFlag == -1; }, 10000));
    EXPECT_EQ(frm.MarqueeText, "abc");
    frm.consumeScrollTick();
    EXPECT_EQ(frm.MarqueeText, "bca");
    EXPECT_EQ(frm.ScrollFlag, 0);
}

TEST_F(WindowTest, ABarThatDoesNotExistIsAFailure)
{
    FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    EXPECT_THROW(frm.SetVu(2), lumora::Failure);
    EXPECT_THROW(frm.shSpectrumL(8), lumora::Failure);
    EXPECT_THROW(frm.shSpectrumR(-1), lumora::Failure);
}

// The error report ends the process, so these run in a fresh one; the
// library path decides which bridge it finds.
class ErrorReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::testing::FLAGS_gtest_death_test_style = "threadsafe";
        m_saved = std::getenv("LD_LIBRARY_PATH") ? std::getenv("LD_LIBRARY_PATH") : "";
    }
    void TearDown() override { setenv("LD_LIBRARY_PATH", m_saved.c_str(), 1); }

private:
    std::string m_saved;
};

TEST_F(ErrorReportTest, MissingLibraryIsReportedAtStartUp)
{
    setenv("LD_LIBRARY_PATH", LUMORA_NO_BRIDGE_DIR, 1);
    EXPECT_EXIT(
        {
            FrmMain frm;
            frm.Form_Load();
        },
        ::testing::ExitedWithCode(lumora::kExitFailure), "run-time error 1001: Library not found: libVbVis10.so");
}

// What the report says where a box can be seen (the program tests see it
// on a real X server): the failure, then what to do about it.
TEST_F(ErrorReportTest, TheReportSaysTheFailureAndWhatToDo)
{
    using lumora::Failure;
    using lumora::FailureNumber;
    const std::pair<Failure, std::string> cases[] = {
        {Failure(FailureNumber::LibraryNotFound, "libVbVis10.so"), "install Lumora again, or set LD_LIBRARY_PATH"},
        {Failure(FailureNumber::FunctionNotFound, "vbvis_spectrum"), "is not Lumora's"},
        {Failure(FailureNumber::PortNotOpen, "/dev/ttyUSB0: busy"), "Choose the display's port with --port DEVICE"},
        {Failure(FailureNumber::PortWriteFailed, "/dev/ttyUSB0: no byte"), "switched on and connected"},
        {Failure(FailureNumber::PortGone, "/dev/ttyUSB0"), "Connect the display again"},
        {Failure(FailureNumber::Overflow, "lamp level 9"), "a fault in Lumora itself"},
        {Failure(FailureNumber::InvalidChannel, "shVu(2)"), "a fault in Lumora itself"},
        {Failure(FailureNumber::Internal, "oops"), "a fault in Lumora itself"},
    };
    for (const auto& [failure, advice] : cases) {
        const std::string text = lumora::errorReportText(failure).toStdString();
        const std::string head = "Run-time error '" + std::to_string(failure.number()) + "':\n\n" + failure.what();
        EXPECT_EQ(text.substr(0, head.size() + 2), head + "\n\n") << text;
        EXPECT_NE(text.find(advice, head.size()), std::string::npos) << text;
    }
}

TEST_F(ErrorReportTest, MissingFunctionIsReportedAtItsFirstCall)
{
    setenv("LD_LIBRARY_PATH", LUMORA_PARTIAL_BRIDGE_DIR, 1);
    EXPECT_EXIT(
        {
            FrmMain frm;
            if (!frm.Form_Load())
                std::_Exit(10);
            lumora::guarded([&] { frm.SetSpectrum(1); });
            std::_Exit(11);
        },
        ::testing::ExitedWithCode(lumora::kExitFailure),
        "run-time error 1002: Function not found in library: vbvis_spectrum");
}

}  // namespace
