// SPDX-License-Identifier: GPL-3.0-or-later
// SerialLine's path for a real serial port, which no machine here has: a
// pseudo-terminal behaves as one through libfakeuart.so (a driver queue
// that a UART shifts out at the line rate, TIOCOUTQ, tcdrain).
#include "fakeuart.h"
#include "pty.h"
#include "serialline.h"
#include "wireformat.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace lumora {
namespace {

using test::Bytes;
using test::Pty;
using test::PtyReader;

Bytes sequence(std::size_t count)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return bytes;
}

struct RealPortTest : ::testing::Test {
    Pty pty;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);

    void SetUp() override
    {
        fakeuart::attach(pty.slave());
        fakeuart::resetCounts();
    }
    void TearDown() override
    {
        fakeuart::hold(false);
        fakeuart::failDrain(0);
        fakeuart::attach({});
    }

    // A yield that fails the test instead of hanging it.
    SerialLine::Yield yield(std::function<void()> also = {})
    {
        return [this, also] {
            if (std::chrono::steady_clock::now() > deadline)
                throw std::runtime_error("hung");
            if (also)
                also();
        };
    }
};

// A run at the line's pace: the writer outruns the line, the driver's
// queue and this class's together never hold more than the output buffer,
// every byte arrives in order, and the driver's queue is read once per
// wait, not at every write.
TEST_F(RealPortTest, WritesAtTheLinesPaceWithinTheOutputBuffer)
{
    for (const int buffer : {wire::kOutputBufferBytes, wire::kSmallestOutputBufferBytes}) {
        SCOPED_TRACE(buffer);
        fakeuart::resetCounts();
        PtyReader reader(pty.master());
        const Bytes sent = sequence(static_cast<std::size_t>(buffer) * 3);
        SerialLine line(yield());
        line.setPortOneDevice(QString::fromStdString(pty.slave()));
        line.setOutputBufferBytes(buffer);
        line.open();
        for (const std::uint8_t b : sent)
            line.write(std::span(&b, 1));
        line.close();

        // Nothing waits in the line's own queue while the driver takes
        // bytes, so the driver's queue is all that waits. It fills to
        // nearly the whole buffer, less what the line shifts out while the
        // writer refills it (a slow writer under a sanitizer refills an
        // eighth in several milliseconds).
        const fakeuart::Counts counts = fakeuart::counts();
        EXPECT_LE(counts.mostQueued, static_cast<std::size_t>(buffer));
        EXPECT_GE(counts.mostQueued, static_cast<std::size_t>(buffer / 2))
            << "the line, not the writer, set the pace";
        EXPECT_LT(counts.queueReads, sent.size() / 4) << "the driver's queue read at every write";
        EXPECT_EQ(counts.writes, sent.size());
        const QDeadlineTimer arrived(5000);
        while (reader.count() < sent.size() && !arrived.hasExpired())
            ::usleep(1000);
        EXPECT_EQ(reader.received(), sent);
    }
}

// The line stops shifting (CTS held low): a waiting write fails after the
// stall limit, and the port is closed.
TEST_F(RealPortTest, StalledLineFailsAfterTheStallLimit)
{
    fakeuart::hold(true);
    SerialLine line(yield());
    line.setPortOneDevice(QString::fromStdString(pty.slave()));
    line.setStallLimit(std::chrono::milliseconds(300));
    line.open();
    try {
        const Bytes bytes = sequence(2000);
        for (const std::uint8_t b : bytes)
            line.write(std::span(&b, 1));
        ADD_FAILURE() << "writes to a stalled line all succeeded";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), static_cast<int>(FailureNumber::PortWriteFailed));
        EXPECT_NE(std::string(f.what()).find("has taken no byte for 300 ms"), std::string::npos) << f.what();
    }
    EXPECT_FALSE(line.isOpen());
    EXPECT_LE(fakeuart::counts().mostQueued, static_cast<std::size_t>(wire::kOutputBufferBytes));
}

// Closing waits until the driver's queue is empty, then for the UART
// (tcdrain), and only then do the old settings come back; a failed drain
// is reported, and the port is closed all the same.
TEST_F(RealPortTest, CloseDrainsTheQueueAndTheUartBeforeTheOldSettings)
{
    PtyReader reader(pty.master());
    {
        SerialLine line(yield());
        line.setPortOneDevice(QString::fromStdString(pty.slave()));
        line.open();
        fakeuart::resetCounts();
        line.write(sequence(300));
        line.close();
        EXPECT_EQ(fakeuart::settingsCalls(), (std::vector<std::string>{"drain", "settings"}));
        // Closed once all of it had gone out on the line: none of it is lost.
        const QDeadlineTimer arrived(5000);
        while (reader.count() < 300 && !arrived.hasExpired())
            ::usleep(1000);
        EXPECT_EQ(reader.received(), sequence(300));
    }
    fakeuart::failDrain(EIO);
    SerialLine line(yield());
    line.setPortOneDevice(QString::fromStdString(pty.slave()));
    line.open();
    line.write(sequence(10));
    try {
        line.close();
        ADD_FAILURE() << "a failed drain was not reported";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), static_cast<int>(FailureNumber::PortGone));
        EXPECT_NE(std::string(f.what()).find(std::strerror(EIO)), std::string::npos) << f.what();
    }
    EXPECT_FALSE(line.isOpen());
}

}  // namespace
}  // namespace lumora
