// SPDX-License-Identifier: GPL-3.0-or-later
// SerialLine's path for a real serial port, which no machine here has: a
// pseudo-terminal behaves as one through libfakeuart.so (a driver queue
// that a UART shifts out at the line rate, TIOCOUTQ, tcdrain). On a real
// port every run begins with the zero bytes that keep a board's bootloader
// from reading the picture (wire::kResetFillerBytes).
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

using testing::Bytes;
using testing::Pty;
using testing::PtyReader;

// What arrives on the line for `written`: the filler, then those bytes.
Bytes onTheLine(const Bytes& written)
{
    Bytes line(wire::kResetFillerBytes, wire::kResetFillerByte);
    line.insert(line.end(), written.begin(), written.end());
    return line;
}

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
        fakeuart::setQueueBytes(4096);
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
// wait, not at every write. With a driver queue smaller than the buffer,
// the driver refuses writes (EAGAIN) and takes parts of others, and still
// nothing is lost.
TEST_F(RealPortTest, WritesAtTheLinesPaceWithinTheOutputBuffer)
{
    struct Case {
        int buffer;
        std::size_t driverQueue;
    };
    for (const Case c : {Case{wire::kOutputBufferBytes, 4096}, Case{wire::kSmallestOutputBufferBytes, 4096},
                         Case{wire::kOutputBufferBytes, 100}}) {
        SCOPED_TRACE(std::to_string(c.buffer) + " bytes, a driver queue of " + std::to_string(c.driverQueue));
        fakeuart::setQueueBytes(c.driverQueue);
        PtyReader reader(pty.master());
        const Bytes sent = sequence(static_cast<std::size_t>(c.buffer) * 3);
        SerialLine line(yield());
        line.setPortOneDevice(QString::fromStdString(pty.slave()));
        line.setOutputBufferBytes(c.buffer);
        line.open();
        fakeuart::resetCounts();
        for (const std::uint8_t b : sent)
            line.write(std::span(&b, 1));
        line.close();

        const fakeuart::Counts counts = fakeuart::counts();
        const auto bound = std::min(static_cast<std::size_t>(c.buffer), c.driverQueue);
        EXPECT_LE(counts.mostQueued, bound);
        EXPECT_GE(counts.mostQueued, bound / 2) << "the line, not the writer, set the pace";
        EXPECT_LT(counts.queueReads, sent.size() / 4) << "the driver's queue read at every write";
        if (c.driverQueue < static_cast<std::size_t>(c.buffer)) {
            EXPECT_GT(counts.refusals + counts.shortWrites, 0u) << "the driver never refused";
        }
        const QDeadlineTimer arrived(5000);
        while (reader.count() < onTheLine(sent).size() && !arrived.hasExpired())
            ::usleep(1000);
        EXPECT_EQ(reader.received(), onTheLine(sent));
    }
}

// The line stops shifting (CTS held low): a waiting write fails after the
// stall limit, and so does a close that waits for the line; the port is
// closed either way.
TEST_F(RealPortTest, StalledLineFailsAfterTheStallLimit)
{
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "close" : "write");
        SerialLine line(yield());
        line.setPortOneDevice(QString::fromStdString(pty.slave()));
        line.open();  // its filler goes out under the default limit: a busy machine may pause the fake's shifter
        line.setStallLimit(std::chrono::milliseconds(300));
        fakeuart::hold(true);
        try {
            const Bytes bytes = sequence(closing ? 100 : 2000);
            for (const std::uint8_t b : bytes)
                line.write(std::span(&b, 1));
            line.close();
            ADD_FAILURE() << "a stalled line took everything";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), static_cast<int>(FailureNumber::PortWriteFailed));
            EXPECT_NE(std::string(f.what()).find("has taken no byte for 300 ms"), std::string::npos) << f.what();
        }
        EXPECT_FALSE(line.isOpen());
        EXPECT_LE(fakeuart::counts().mostQueued, static_cast<std::size_t>(wire::kOutputBufferBytes));
        fakeuart::hold(false);
    }
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
        while (reader.count() < onTheLine(sequence(300)).size() && !arrived.hasExpired())
            ::usleep(1000);
        EXPECT_EQ(reader.received(), onTheLine(sequence(300)));
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
