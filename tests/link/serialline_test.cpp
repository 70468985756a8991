// SPDX-License-Identifier: GPL-3.0-or-later
// SerialLine on real pseudo-terminal pairs: the test holds the master side
// and plays the display; the line opens the slave as the display's port.
#include "eventpump.h"
#include "pty.h"
#include "serialline.h"
#include "serialports.h"
#include "streamingrun.h"
#include "wireformat.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace lumora {
namespace {

using testing::Bytes;
using testing::Pty;

// Thrown by a yield that has been waiting too long: a hang fails the test
// instead of blocking it.
struct Hung { };

// A pty whose slave the line names through a symlink, as a user would
// point Lumora at the display program's pty.
struct PtyFixture : ::testing::Test {
    Pty pty;
    QTemporaryDir dir;
    std::string link = dir.filePath("display").toStdString();
    Bytes received;
    long passes = 0;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);

    void SetUp() override { ASSERT_EQ(::symlink(pty.slave().c_str(), link.c_str()), 0); }

    // Points the line at the pty, as the settings would.
    void aim(SerialLine& line) const { line.setPortOneDevice(QString::fromStdString(link)); }

    // One pass of the event pump, as the streaming run yields; `also` runs
    // first on every pass.
    SerialLine::Yield yield(std::function<void()> also = {})
    {
        return [this, also] {
            if (std::chrono::steady_clock::now() > deadline)
                throw Hung{};
            ++passes;
            if (also)
                also();
            QCoreApplication::processEvents();
        };
    }
    SerialLine::Yield readingYield()
    {
        return yield([this] { pty.drainInto(received); });
    }

    // Fills the pty until it takes no more, through a descriptor of the
    // test's own, so that the line finds its reader stalled. Call it after
    // the line has opened: setting the line's modes frees some room.
    // Returns the count.
    std::size_t fillPty(int& fd)
    {
        fd = ::open(pty.slave().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0) << std::strerror(errno);
        std::size_t filled = 0;
        const std::string block(1024, 'p');
        // The kernel moves data on to the master's side in the background,
        // so a full pty can take more a moment later: full means refused
        // several times over 50 ms.
        for (int refusals = 0; refusals < 5;) {
            const ssize_t n = ::write(fd, block.data(), refusals == 0 ? block.size() : 1);
            if (n > 0) {
                filled += static_cast<std::size_t>(n);
                refusals = 0;
            } else {
                ++refusals;
                ::usleep(10000);
            }
        }
        return filled;
    }
};

QSerialPort* portOf(SerialLine& line)
{
    return line.findChild<QSerialPort*>();
}

Bytes sequence(std::size_t count)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return bytes;
}

void writeOneByOne(SerialLine& line, const Bytes& bytes, std::size_t* written = nullptr)
{
    for (const std::uint8_t b : bytes) {
        line.write(std::span(&b, 1));
        if (written)
            ++*written;
    }
}

TEST(SerialLinePort, PortNumbersNameSerialPortsUnlessPortOneIsChosen)
{
    struct Case {
        int port;
        QString portOneDevice;  // as the settings choose it
        QString device;
    };
    const Case cases[] = {
        {1, "", "/dev/ttyS0"},
        {4, "", "/dev/ttyS3"},
        {0, "", ""},
        {1, "/dev/ttyACM0", "/dev/ttyACM0"},
        {2, "/dev/ttyACM0", "/dev/ttyS1"},
    };
    for (const Case& c : cases) {
        SerialLine line({});
        line.setCommPort(c.port);
        line.setPortOneDevice(c.portOneDevice);
        EXPECT_EQ(line.device(), c.device) << "port " << c.port << ", port one " << c.portOneDevice.toStdString();
    }
}

TEST_F(PtyFixture, OpensTheLineRawAt57600EightNoneOneWithoutFlowControl)
{
    SerialLine line(yield());
    aim(line);
    line.open();
    ASSERT_TRUE(line.isOpen());
    termios t{};
    // On a pty master, TCGETS reports the slave's settings.
    ASSERT_EQ(::tcgetattr(pty.master(), &t), 0);
    const struct {
        const char* what;
        bool holds;
    } checks[] = {
        {"output speed 57600", ::cfgetospeed(&t) == B57600},
        {"input speed 57600", ::cfgetispeed(&t) == B57600},
        {"8 data bits", (t.c_cflag & CSIZE) == CS8},
        {"no parity", (t.c_cflag & PARENB) == 0},
        {"1 stop bit", (t.c_cflag & CSTOPB) == 0},
        {"no RTS/CTS", (t.c_cflag & CRTSCTS) == 0},
        {"no XON/XOFF", (t.c_iflag & (IXON | IXOFF | IXANY)) == 0},
        {"no output processing", (t.c_oflag & OPOST) == 0},
        {"no line editing", (t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0},
    };
    for (const auto& check : checks)
        EXPECT_TRUE(check.holds) << check.what;
    line.close();
    EXPECT_FALSE(line.isOpen());
}

TEST_F(PtyFixture, AllByteValuesArriveUnchangedAndCloseWaitsForThem)
{
    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    SerialLine line(readingYield());
    aim(line);
    line.open();
    writeOneByOne(line, all);  // as the run writes: one byte per call
    line.write(all);           // and one block
    line.close();              // at the line rate most of it is still queued here
    pty.drainInto(received);

    Bytes expected = all;
    expected.insert(expected.end(), all.begin(), all.end());
    EXPECT_EQ(received, expected);
}

TEST_F(PtyFixture, ReaderAtLineRateNeverSeesMoreThan512Outstanding)
{
    const Bytes sent = sequence(3000);
    std::size_t written = 0;
    int mostOutstanding = 0;
    std::size_t mostInFlight = 0;
    SerialLine line(yield([&] {
        pty.drainInto(received);
        mostOutstanding = std::max(mostOutstanding, line.outstanding());
        mostInFlight = std::max(mostInFlight, written - received.size());
    }));
    aim(line);
    line.open();
    writeOneByOne(line, sent, &written);
    line.close();
    pty.drainInto(received);

    EXPECT_EQ(received, sent);
    EXPECT_LE(mostOutstanding, wire::kOutputBufferBytes);
    EXPECT_LE(mostInFlight, static_cast<std::size_t>(wire::kOutputBufferBytes));
    // The writer outruns a 57600-baud line by far, so the buffer did fill:
    // the line, not the writer, set the pace.
    EXPECT_GE(mostOutstanding, wire::kOutputBufferBytes - 8);
}

TEST_F(PtyFixture, StalledReaderBlocksWritesInTheYieldingWaitWithoutGrowingBuffers)
{
    {
        SerialLine line({});
        aim(line);
        for (const int outside : {wire::kSmallestOutputBufferBytes - 1, wire::kOutputBufferBytes + 1})
            EXPECT_THROW(line.setOutputBufferBytes(outside), Failure) << outside;
    }
    const Bytes sent = sequence(2000);
    for (const int buffer : {wire::kOutputBufferBytes, 168, wire::kSmallestOutputBufferBytes}) {
        SCOPED_TRACE("output buffer " + std::to_string(buffer));
        received.clear();
        passes = 0;
        std::size_t written = 0;
        std::optional<std::size_t> writtenWhenStopped;
        qint64 mostQueuedInQt = 0;
        int mostOutstanding = 0;
        constexpr long kPassesBeforeStop = 300;

        SerialLine line(yield([&] {
            mostOutstanding = std::max(mostOutstanding, line.outstanding());
            if (QSerialPort* port = portOf(line))
                mostQueuedInQt = std::max(mostQueuedInQt, port->bytesToWrite());
            if (passes == kPassesBeforeStop)
                writtenWhenStopped = written;  // what a Stop click would see
            if (writtenWhenStopped)
                pty.drainInto(received);  // the display wakes up again
        }));
        aim(line);
        line.setOutputBufferBytes(buffer);
        line.open();
        ASSERT_NE(portOf(line), nullptr);
        int stuffer = -1;
        const std::size_t prefilled = fillPty(stuffer);
        writeOneByOne(line, sent, &written);
        line.close();
        pty.drainInto(received);
        ::close(stuffer);

        ASSERT_TRUE(writtenWhenStopped.has_value()) << "the wait never yielded";
        // Nothing passes a stalled reader but what fits in the output buffer,
        // and the whole buffer is used.
        EXPECT_EQ(*writtenWhenStopped, static_cast<std::size_t>(buffer));
        EXPECT_LE(mostQueuedInQt, buffer);
        EXPECT_EQ(mostOutstanding, buffer);
        Bytes expected(prefilled, 'p');
        expected.insert(expected.end(), sent.begin(), sent.end());
        EXPECT_EQ(received, expected);
    }
}

TEST_F(PtyFixture, StallLimitEndsAWaitThatMakesNoProgress)
{
    SerialLine line(yield());
    aim(line);
    line.setStallLimit(std::chrono::milliseconds(300));
    line.open();
    int stuffer = -1;
    fillPty(stuffer);
    try {
        writeOneByOne(line, sequence(1000));
        ADD_FAILURE() << "writes to a stalled reader all succeeded";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), static_cast<int>(FailureNumber::PortWriteFailed));
        EXPECT_NE(std::string(f.what()).find(link), std::string::npos) << f.what();
    }
    EXPECT_GT(passes, 0);
    EXPECT_FALSE(line.isOpen());
    ::close(stuffer);
}

TEST_F(PtyFixture, ClosedMasterFailsNamingTheDeviceWithoutHangingOrSpinning)
{
    struct Case {
        const char* when;
        std::function<void(SerialLine&, Pty&)> run;
    };
    const Case cases[] = {
        {"while the run only yields, then at a write",
         [](SerialLine& line, Pty& p) {
             p.closeMaster();
             for (int i = 0; i < 1000; ++i)
                 QCoreApplication::processEvents();
             writeOneByOne(line, sequence(10));
         }},
        {"while bytes still wait for the line",
         [](SerialLine& line, Pty& p) {
             line.write(sequence(300));
             p.closeMaster();
             line.close();
         }},
        {"while the writer waits for room", [](SerialLine& line, Pty&) { writeOneByOne(line, sequence(5000)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        Pty local;
        const std::string device = local.slave();
        long localPasses = 0;
        SerialLine line(yield([&] {
            if (++localPasses == 50)
                local.closeMaster();
        }));
        line.setPortOneDevice(QString::fromStdString(device));
        line.open();
        int errorSignals = 0;
        QObject::connect(portOf(line), &QSerialPort::errorOccurred,
                         [&](QSerialPort::SerialPortError e) { errorSignals += e != QSerialPort::NoError; });
        try {
            c.run(line, local);
            ADD_FAILURE() << "no failure";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), static_cast<int>(FailureNumber::PortGone)) << f.what();
            EXPECT_NE(std::string(f.what()).find(device), std::string::npos) << f.what();
        }
        EXPECT_FALSE(line.isOpen());
        for (int i = 0; i < 1000; ++i)
            QCoreApplication::processEvents();
        EXPECT_LT(errorSignals, 10) << "the dead device is retried over and over";
    }
}

TEST(SerialLineOpen, MissingDeviceFailsWithNoSuchFile)
{
    QTemporaryDir dir;
    const std::string absent = dir.filePath("absent").toStdString();
    const std::string dangling = dir.filePath("dangling").toStdString();
    ASSERT_EQ(::symlink(absent.c_str(), dangling.c_str()), 0);
    for (const std::string& device : {absent, dangling, std::string("/dev/ttyLumoraNone")}) {
        SerialLine line({});
        line.setPortOneDevice(QString::fromStdString(device));
        try {
            line.open();
            ADD_FAILURE() << device << " opened";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), static_cast<int>(FailureNumber::PortNotOpen));
            const std::string what = f.what();
            EXPECT_NE(what.find(device), std::string::npos) << what;
            EXPECT_NE(what.find(std::strerror(ENOENT)), std::string::npos) << what;
        }
        EXPECT_FALSE(line.isOpen());
    }
}

// A child process that holds `device` open until killed.
class Holder {
public:
    explicit Holder(const std::function<bool()>& hold)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            const char answer = hold() ? 'y' : 'n';
            (void)!::write(ready[1], &answer, 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        pollfd p{ready[0], POLLIN, 0};
        char answer = 0;
        if (::poll(&p, 1, 10000) == 1)
            (void)!::read(ready[0], &answer, 1);
        ::close(ready[0]);
        m_holding = answer == 'y';
    }
    ~Holder()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool holding() const { return m_holding; }

private:
    pid_t m_pid = -1;
    bool m_holding = false;
};

TEST_F(PtyFixture, DeviceHeldByAnotherProgramFailsAsBusy)
{
    const std::string slave = pty.slave();
    struct Case {
        const char* holder;
        std::function<std::function<void()>()> hold;  // returns the release
    };
    const Case cases[] = {
        {"another SerialLine",
         [this] {
             auto other = std::make_shared<SerialLine>(SerialLine::Yield{});
             aim(*other);
             other->open();
             return [other] { other->close(); };
         }},
        {"another SerialLine through the device's own name",
         [slave] {
             auto other = std::make_shared<SerialLine>(SerialLine::Yield{});
             other->setPortOneDevice(QString::fromStdString(slave));
             other->open();
             return [other] { other->close(); };
         }},
        {"a QSerialPort in another process",
         [slave] {
             auto holder = std::make_shared<Holder>([slave] {
                 static QSerialPort other(QString::fromStdString(slave));
                 return other.open(QIODevice::WriteOnly);
             });
             EXPECT_TRUE(holder->holding());
             return [holder]() mutable { holder.reset(); };
         }},
        {"flock() in another process",
         [slave] {
             auto holder = std::make_shared<Holder>([slave] {
                 const int fd = ::open(slave.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
                 return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
             });
             EXPECT_TRUE(holder->holding());
             return [holder]() mutable { holder.reset(); };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.holder);
        std::function<void()> release = c.hold();
        SerialLine line({});
        aim(line);
        try {
            line.open();
            ADD_FAILURE() << "opened a device held by " << c.holder;
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), static_cast<int>(FailureNumber::PortNotOpen));
            const std::string what = f.what();
            EXPECT_NE(what.find(link), std::string::npos) << what;
            EXPECT_NE(what.find("busy"), std::string::npos) << what;
        }
        EXPECT_FALSE(line.isOpen());
        release();
        // Once released, the device opens again.
        line.open();
        line.close();
    }
}

TEST_F(PtyFixture, PermissionDeniedSaysHowToJoinTheDialoutGroup)
{
    // Root opens anything, so the attempt runs as nobody; a user already
    // lacks the right once the pty's mode bits are cleared.
    const bool root = ::geteuid() == 0;
    if (!root) {
        ASSERT_EQ(::chmod(pty.slave().c_str(), 0), 0);
    } else {
        ASSERT_EQ(::seteuid(65534), 0) << std::strerror(errno);
    }
    std::optional<Failure> failure;
    try {
        SerialLine line({});
        aim(line);
        line.open();
    } catch (const Failure& f) {
        failure = f;
    }
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
    }

    ASSERT_TRUE(failure.has_value()) << "opened without permission";
    const std::string what = failure->what();
    EXPECT_EQ(failure->number(), static_cast<int>(FailureNumber::PortNotOpen));
    EXPECT_NE(what.find(link), std::string::npos) << what;
    EXPECT_NE(what.find(std::strerror(EACCES)), std::string::npos) << what;
    EXPECT_NE(what.find("usermod -aG dialout"), std::string::npos) << what;
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

// What a run hands its output, written without a port: a cycle as 28
// writes (the 8 lamp groups at once, then each character alone), the
// blanking as the same 28 writes after its hold-off.
TEST(StreamingRun, SendsEachStepAsOneWrite)
{
    struct Recorder : LineOutput {
        std::vector<Bytes> writes;
        void write(std::span<const std::uint8_t> bytes) override { writes.emplace_back(bytes.begin(), bytes.end()); }
        void close() override { }
    };
    wire::Cycle cycle;
    for (std::size_t i = 0; i < cycle.lamps.size(); ++i)
        cycle.lamps[i] = wire::levelLampByte(static_cast<int>(i % 9), i % 2 == 0);
    cycle.text.fill('x');
    for (const auto& [steps, sent] : {std::pair{wire::cycleSteps(cycle), wire::encode(cycle)},
                                      {wire::blankingSteps(), wire::encode(wire::blankCycle())}}) {
        Recorder out;
        EventPump pump;
        sendSteps(out, steps, pump);
        ASSERT_EQ(out.writes.size(), 28u);
        Bytes all;
        for (std::size_t i = 0; i < out.writes.size(); ++i) {
            EXPECT_EQ(out.writes[i].size(), i < 8 ? 8u : 1u) << "write " << i;
            all.insert(all.end(), out.writes[i].begin(), out.writes[i].end());
        }
        EXPECT_EQ(all, Bytes(sent.begin(), sent.end()));
    }
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

// The port list as --list-ports and the open-failure report show it.
TEST(SerialPortList, DescribesEachPortWithWhatIsKnownAndMarksTheChosenOne)
{
    SerialPortEntry usb{"/dev/ttyUSB0",
                        "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                        "FT232R USB UART",
                        "FTDI",
                        "A50285BI",
                        "",
                        ""};
    SerialPortEntry locked{"/dev/ttyS0", "", "", "", "", "minicom (pid 812)", ""};
    SerialPortEntry open{"/dev/ttyACM0", "", "Arduino Uno", "Arduino Uno", "", "", "ModemManager (pid 530)"};
    struct Case {
        SerialPortList list;
        QString chosen;
        QString text;
    };
    const Case cases[] = {
        {{{}, true}, "", "  none found"},
        {{{usb, locked, open}, true},
         "/dev/ttyUSB0",
         "  /dev/ttyUSB0: FT232R USB UART, made by FTDI, serial number A50285BI; free  <- chosen\n"
         "    stable name /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n"
         "  /dev/ttyS0: busy, locked by minicom (pid 812)\n"
         "  /dev/ttyACM0: Arduino Uno; open in ModemManager (pid 530)"},
        {{{locked}, false}, "/dev/ttyUSB0", "  /dev/ttyS0: busy, locked by minicom (pid 812)"},
        {{{SerialPortEntry{"/dev/ttyS1", "", "", "", "", "", ""}}, false},
         "",
         "  /dev/ttyS1: free, as far as your programs go"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describeSerialPorts(c.list, c.chosen).toStdString(), c.text.toStdString());
}

}  // namespace
}  // namespace lumora
