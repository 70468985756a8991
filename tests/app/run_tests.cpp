// SPDX-License-Identifier: GPL-3.0-or-later
// Streaming runs through the real window (offscreen), the test bridge
// library and a real pseudo-terminal in place of the display's serial port.
#include "errorreport.h"
#include "frmmain.h"
#include "pty.h"
#include "serialline.h"
#include "signalclose.h"
#include "streamingrun.h"
#include "testbridge.h"
#include "wireformat.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QSerialPort>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using lumora::EventPump;
using lumora::FrmMain;
using lumora::testing::Bytes;
using lumora::testing::Pty;
using lumora::testing::PtyReader;
using lumora::testing::TestBridge;
namespace wire = lumora::wire;

namespace {

const Bytes kBlanking = [] {
    const auto bytes = wire::encode(wire::blankCycle());
    return Bytes(bytes.begin(), bytes.end());
}();

// A spectrum of 100 values whose last three tenths (band 7) are full and
// the rest silent: band 7 fills its bar, level 8.
std::string band7Full()
{
    return std::string(140, '0') + std::string(60, 'F');
}

class RunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        frm.MSComm1->setPortOneDevice(QString::fromStdString(pty.slave()));
        lib.reset();
        lib.setCount(100);
        lib.setSpectrumText(0, band7Full());
        lib.setSpectrumText(1, band7Full());
        ASSERT_TRUE(frm.Form_Load());
        frm.show();
    }

    // Presses Stop at the run's first pass through the event pump.
    void stopAfterStart() { QTimer::singleShot(0, frm.Command2, &QPushButton::click); }

    // Waits until the reader has seen n bytes (the slave may still be
    // draining its last bytes when the run returns).
    Bytes receivedAtLeast(std::size_t n)
    {
        QDeadlineTimer deadline(5000);
        while (reader.count() < n && !deadline.hasExpired())
            QTest::qWait(5);
        return reader.received();
    }

    static Bytes frameBytes(const lumora::LampFrame& frame, const std::string& slice)
    {
        const auto bytes = wire::encode(lumora::currentCycle(frame, slice));
        return Bytes(bytes.begin(), bytes.end());
    }

    TestBridge lib;
    Pty pty;
    PtyReader reader{pty.master()};
    FrmMain frm;
};

TEST_F(RunTest, StopDuringFirstCycleSendsOneFrameThenBlanking)
{
    frm.Check1->setChecked(true);
    frm.ScrollFlag = 0;
    lib.clearCalls();
    stopAfterStart();
    frm.Command1->click();

    EXPECT_FALSE(frm.MSComm1->isOpen());
    EXPECT_TRUE(frm.Command1->isEnabled());
    EXPECT_FALSE(frm.Command2->isEnabled());
    EXPECT_EQ(frm.StopFlag, -1);

    const Bytes got = receivedAtLeast(2 * wire::kCycleBytes);
    ASSERT_EQ(got.size(), 2u * wire::kCycleBytes);
    const Bytes cycle(got.begin(), got.begin() + wire::kCycleBytes);
    EXPECT_EQ(cycle, frameBytes(frm.FrameMatrix, "Megacool - zelf gema"));
    EXPECT_EQ(cycle[0], frm.FrameMatrix(1, 1));
    EXPECT_EQ(cycle[56], 255) << "left band 7, bar mode, level 8";
    EXPECT_EQ(cycle[63], 255) << "right band 7 is FrameMatrix(8, 8)";
    EXPECT_EQ(Bytes(got.begin() + wire::kCycleBytes, got.end()), kBlanking);

    // One cycle's six bridge calls, in order.
    const auto calls = lib.calls();
    ASSERT_EQ(calls.size(), 6u);
    const std::string spaces = std::string(201, ' ') + '\0';
    const std::string empty(1, '\0');
    const std::vector<lumora::testing::BridgeCall> expected = {
        {TESTBRIDGE_VU, 0, -1, false, {}},        {TESTBRIDGE_VU, 1, -1, false, {}},
        {TESTBRIDGE_SPECTRUM, 0, 0, true, empty}, {TESTBRIDGE_SPECTRUM, 0, 201, true, spaces},
        {TESTBRIDGE_SPECTRUM, 0, 0, true, empty}, {TESTBRIDGE_SPECTRUM, 1, 201, true, spaces},
    };
    EXPECT_EQ(calls, expected);
}

TEST_F(RunTest, DotModeLevelEightGoesOutAs128)
{
    stopAfterStart();
    frm.Command1->click();
    const Bytes got = receivedAtLeast(wire::kCycleBytes);
    ASSERT_GE(got.size(), static_cast<std::size_t>(wire::kCycleBytes));
    EXPECT_EQ(got[56], 128);
    EXPECT_EQ(got[63], 128);
    EXPECT_EQ(got[0], 0);
}

TEST_F(RunTest, TickWhileIdleRotatesTheFirstSlice)
{
    // The 500 ms scroll timer ticks while no run is active.
    ASSERT_TRUE(QTest::qWaitFor([&] { return frm.ScrollFlag == -1; }, 10000));
    stopAfterStart();
    frm.Command1->click();
    const Bytes got = receivedAtLeast(wire::kCycleBytes);
    ASSERT_GE(got.size(), static_cast<std::size_t>(wire::kCycleBytes));
    EXPECT_EQ(std::string(got.begin() + 64, got.begin() + 84), "egacool - zelf gemaa");
}

TEST_F(RunTest, SecondRunStartsFromTheFirstRunsHistoryAndTheInitialText)
{
    frm.Check1->setChecked(true);
    stopAfterStart();
    frm.Command1->click();
    ASSERT_EQ(receivedAtLeast(2 * wire::kCycleBytes).size(), 2u * wire::kCycleBytes);

    lib.setSpectrumText(0, std::string(200, '0'));
    frm.ScrollFlag = 0;
    stopAfterStart();
    frm.Command1->click();
    const Bytes got = receivedAtLeast(4 * wire::kCycleBytes);
    ASSERT_EQ(got.size(), 4u * wire::kCycleBytes);
    const std::size_t second = 2 * wire::kCycleBytes;
    EXPECT_EQ(got[second + 56], 0) << "left band 7 now silent";
    EXPECT_EQ(got[second + 57], 255) << "the first run's level, one step older";
    EXPECT_EQ(got[second + 62], 255);
    EXPECT_EQ(got[second + 63], 255);
    EXPECT_EQ(std::string(got.begin() + second + 64, got.begin() + second + 84), "Megacool - zelf gema");
}

TEST_F(RunTest, CyclesRepeatUntilStop)
{
    int cycles = 0;
    lib.clearCalls();
    // Stop once the bridge has seen three cycles' calls.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (lib.callCount() >= 18 && frm.Command2->isEnabled())
            frm.Command2->click();
    });
    poll.start(1);
    frm.Command1->click();
    cycles = static_cast<int>(lib.calls().size() / 6);
    ASSERT_GE(cycles, 3);
    const Bytes got = receivedAtLeast(static_cast<std::size_t>(cycles + 1) * wire::kCycleBytes);
    ASSERT_EQ(got.size(), static_cast<std::size_t>(cycles + 1) * wire::kCycleBytes);
    EXPECT_EQ(Bytes(got.end() - wire::kCycleBytes, got.end()), kBlanking);
    for (int c = 0; c < cycles; ++c)
        EXPECT_NE(Bytes(got.begin() + c * wire::kCycleBytes, got.begin() + (c + 1) * wire::kCycleBytes), kBlanking);
}

// Whatever is waiting when the run writes a lamp group is serviced within
// that group's pause, however few of its yields make a full pass.
// The clock the run's yields read, set by the test.
EventPump::Clock::time_point g_pumpClock;

TEST_F(RunTest, PendingClicksAndTicksAreServicedAtTheFirstPauseAfterTheFullPassInterval)
{
    frm.pump().setClock([] { return g_pumpClock; });
    const auto postClick = [](QWidget* widget) {
        const QPointF at = QRectF(widget->rect()).center();
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(
                widget,
                new QMouseEvent(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier));
    };
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::function<bool()> serviced;
    };
    const Case cases[] = {
        {"a click on Stop",
         [&] {
             frm.Command2->setEnabled(true);
             frm.StopFlag = 0;
             postClick(frm.Command2);
         },
         [&] { return frm.StopFlag == -1; }},
        {"a click on Bar Modus", [&] { postClick(frm.Check1); }, [&] { return frm.Check1->isChecked(); }},
        {"a tick of the scroll timer",
         [&] {
             frm.ScrollFlag = 0;
             frm.Timer1->start(0);  // due at once, serviced at the next full pass
         },
         [&] { return frm.ScrollFlag == -1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        frm.pump().fullPass();
        c.arrange();
        g_pumpClock += EventPump::kFullPassInterval / 2;
        frm.pump().pause(wire::kYieldsAfterLampGroup);
        EXPECT_FALSE(c.serviced()) << "a pass before the interval: no cheaper than before";
        g_pumpClock += EventPump::kFullPassInterval / 2;
        frm.pump().pause(wire::kYieldsAfterLampGroup);
        EXPECT_TRUE(c.serviced());
    }
    frm.pump().setClock(&EventPump::Clock::now);
    frm.Timer1->start(500);
}

// A pause counts its yields in runs. It must read the clock and make its
// full passes exactly where as many yields one by one would: a click that
// comes during the text's 500 yields waits no longer than the interval.
unsigned g_clockReads = 0;

TEST(EventPumpTest, APauseReadsTheClockAndPassesWhereItsYieldsOneByOneWould)
{
    // Every read finds the pass interval gone by.
    const EventPump::ClockReading clock = [] {
        ++g_clockReads;
        return g_pumpClock += EventPump::kFullPassInterval;
    };
    for (const int yields : {1, 2, 255, 256, 257, 500, 513, 1000}) {
        SCOPED_TRACE(yields);
        EventPump paused;
        EventPump oneByOne;
        paused.setClock(clock);
        oneByOne.setClock(clock);
        g_clockReads = 0;
        paused.pause(yields);
        const unsigned pausedReads = g_clockReads;
        g_clockReads = 0;
        oneByOne.pause(1);
        for (int i = 1; i < yields; ++i)
            oneByOne.yield();
        EXPECT_EQ(pausedReads, g_clockReads);
        EXPECT_EQ(paused.fullPasses(), oneByOne.fullPasses());
    }
}

// Space presses the focused button: Stop during a run, Start again after.
TEST_F(RunTest, SpaceDuringARunPressesStopAndTheFocusReturnsToStart)
{
    frm.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frm));
    ASSERT_EQ(QApplication::focusWidget(), frm.Command1);
    QTimer::singleShot(0, [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space); });
    bool spaceDidNotStop = false;
    QTimer fallback;  // ends a run that Space did not stop
    fallback.setSingleShot(true);
    QObject::connect(&fallback, &QTimer::timeout, [&] {
        spaceDidNotStop = frm.StopFlag == 0;
        frm.Command2->click();
    });
    fallback.start(10000);
    frm.Command1->click();
    EXPECT_FALSE(spaceDidNotStop) << "Space did not press Stop";
    EXPECT_FALSE(frm.Check1->isChecked()) << "Space toggled Bar Modus";
    EXPECT_EQ(QApplication::focusWidget(), frm.Command1);
}

TEST_F(RunTest, ClosingTheWindowDuringARunStopsBlanksAndThenCloses)
{
    QTimer::singleShot(0, &frm, &QWidget::close);
    frm.Command1->click();
    EXPECT_FALSE(frm.isVisible());
    EXPECT_FALSE(frm.MSComm1->isOpen());
    const Bytes got = receivedAtLeast(2 * wire::kCycleBytes);
    ASSERT_EQ(got.size(), 2u * wire::kCycleBytes);
    EXPECT_EQ(Bytes(got.begin() + wire::kCycleBytes, got.end()), kBlanking);
}

TEST_F(RunTest, TerminationSignalDuringARunStopsBlanksAndThenCloses)
{
    ASSERT_TRUE(lumora::closeOnSignals(frm));
    QTimer::singleShot(0, [] { std::raise(SIGTERM); });
    frm.Command1->click();
    EXPECT_FALSE(frm.isVisible());
    // The signal reaches the window at the run's next full pass through the
    // event loop: the cycles written by then go out whole, then the blanking.
    const auto endsBlank = [](const Bytes& b) {
        return b.size() >= kBlanking.size() && std::equal(kBlanking.begin(), kBlanking.end(), b.end() - wire::kCycleBytes);
    };
    QDeadlineTimer deadline(5000);
    Bytes got = reader.received();
    for (; !endsBlank(got) && !deadline.hasExpired(); got = reader.received())
        QTest::qWait(5);
    EXPECT_TRUE(endsBlank(got));
    EXPECT_EQ(got.size() % wire::kCycleBytes, 0u);
    EXPECT_LE(got.size(), static_cast<std::size_t>(wire::kOutputBufferBytes + 2 * wire::kCycleBytes));
    std::signal(SIGTERM, SIG_DFL);
}

TEST_F(RunTest, StopIsServicedWhileTheDisplayHasStalled)
{
    reader.hold(true);
    // The line has stalled once the pty takes nothing more: what waits stays
    // the same (a moving line lowers it byte by byte) and is more than a
    // waiting write lets it fall to before it writes again.
    const int writeWaitsAbove = wire::kOutputBufferBytes - wire::kOutputBufferBytes / 8;
    int lastWaiting = -1;
    QElapsedTimer unchangedFor;
    bool stoppedWhileFull = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const int waiting = frm.MSComm1->outstanding();
        if (waiting != lastWaiting) {
            lastWaiting = waiting;
            unchangedFor.start();
        } else if (!stoppedWhileFull && waiting > writeWaitsAbove && unchangedFor.elapsed() >= 100) {
            frm.Command2->click();  // serviced although every write is waiting
            stoppedWhileFull = frm.StopFlag == -1 && frm.running();
            reader.hold(false);
        }
    });
    watch.start(2);
    lib.clearCalls();
    frm.Command1->click();
    EXPECT_TRUE(stoppedWhileFull);
    EXPECT_FALSE(frm.MSComm1->isOpen());
    const auto cycles = static_cast<std::size_t>(lib.callCount() / 6);
    const Bytes got = receivedAtLeast((cycles + 1) * wire::kCycleBytes);
    ASSERT_EQ(got.size(), (cycles + 1) * wire::kCycleBytes) << "every cycle and the blanking, nothing lost";
    EXPECT_EQ(Bytes(got.end() - wire::kCycleBytes, got.end()), kBlanking);
}

// Failures end the program through the error report: a fresh process each.
class RunFailureTest : public ::testing::Test {
protected:
    void SetUp() override { ::testing::FLAGS_gtest_death_test_style = "threadsafe"; }
};

void startRunExpectingFailure(const std::string& port, const std::function<void(FrmMain&)>& arrange)
{
    ::alarm(30);  // a hang is a failure, not a stuck test
    FrmMain frm;
    frm.MSComm1->setPortOneDevice(QString::fromStdString(port));
    if (!frm.Form_Load())
        std::_Exit(10);
    arrange(frm);
    frm.Command1->click();
    std::_Exit(11);
}

// The report of a port that cannot be opened lists the ports there are and
// says how to choose one.
TEST_F(RunFailureTest, MissingDeviceIsReportedWithThePortsThereAreAndHowToChooseOne)
{
    EXPECT_EXIT(startRunExpectingFailure("/dev/lumora-no-such-port", [](FrmMain&) {}),
                ::testing::ExitedWithCode(lumora::kExitFailure),
                "run-time error 1005: .*/dev/lumora-no-such-port.*No such file.*"
                "Serial ports on this computer:\n  (none found|/dev/).*"
                "Choose the display's port with --port DEVICE, or with a line port=DEVICE\n"
                "in /.*/lumora/lumora.conf");
}

TEST_F(RunFailureTest, DeviceHeldByAnotherProgramIsReported)
{
    Pty pty;
    EXPECT_EXIT(startRunExpectingFailure(pty.slave(),
                                         [&](FrmMain&) {
                                             static QSerialPort other(QString::fromStdString(pty.slave()));
                                             if (!other.open(QIODevice::WriteOnly))
                                                 std::_Exit(12);
                                         }),
                ::testing::ExitedWithCode(lumora::kExitFailure),
                "run-time error 1005: .*/dev/pts/[0-9]+: Device or resource busy.*"
                "Serial ports on this computer:.*/dev/pts/[0-9]+: pseudo-terminal; busy, locked by [^\n]*<- chosen");
}

// The display has stopped reading, so the first SIGTERM's polite end (the
// cycle, the blanking, the close) cannot finish; a second one ends the
// program at once instead of after the 10 s stall limit.
TEST_F(RunFailureTest, SecondSignalWhileTheFirstIsHandledEndsAtOnce)
{
    Pty pty;
    EXPECT_EXIT(startRunExpectingFailure(pty.slave(),
                                         [&](FrmMain& frm) {
                                             if (!lumora::closeOnSignals(frm))
                                                 std::_Exit(12);
                                             static const int filler =
                                                 ::open(pty.slave().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
                                             QTimer::singleShot(0, [] {
                                                 const char block[256] = {};
                                                 for (int refusals = 0; refusals < 5; ::usleep(10000))
                                                     refusals =
                                                         ::write(filler, block, sizeof block) > 0 ? 0 : refusals + 1;
                                                 std::raise(SIGTERM);
                                             });
                                             QTimer::singleShot(300, [] { std::raise(SIGTERM); });
                                         }),
                ::testing::KilledBySignal(SIGTERM), "");
}

TEST_F(RunFailureTest, DisplayGoingAwayMidRunIsReported)
{
    Pty pty;
    EXPECT_EXIT(startRunExpectingFailure(pty.slave(),
                                         [&](FrmMain& frm) {
                                             QTimer::singleShot(200, [&] { pty.closeMaster(); });
                                             (void)frm;
                                         }),
                ::testing::ExitedWithCode(lumora::kExitFailure),
                "run-time error 1007: .*/dev/pts/[0-9]+: Input/output error");
}

}  // namespace
