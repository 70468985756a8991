// SPDX-License-Identifier: GPL-3.0-or-later
// lumora-display as a real program: a pseudo-terminal written by another
// process, signals, recording and replay, and its window under Xvfb.
#include "displaylayout.h"
#include "hextext.h"
#include "recording.h"
#include "senderstream.h"
#include "subprocess.h"
#include "temporarydirectory.h"
#include "wireformat.h"

#include <QImage>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>
#include <unistd.h>

namespace lumora::display {
namespace {

using namespace std::chrono_literals;
using lumora::testing::Subprocess;
using testing::sampleCycle;

const std::string kProgram = LUMORA_DISPLAY_PROGRAM;
const std::string kScreenshotScript = LUMORA_SCREENSHOT_SCRIPT;

using lumora::testing::TemporaryDirectory;

// Writes like a sender: each lamp group and each character in one write,
// with a short pause after it.
void writeCycle(int fd, const wire::Cycle& cycle)
{
    for (const wire::Step& step : wire::cycleSteps(cycle)) {
        ASSERT_EQ(::write(fd, step.bytes.data(), step.bytes.size()), static_cast<ssize_t>(step.bytes.size()));
        std::this_thread::sleep_for(200us);
    }
}

std::string cycleLine(char kind, int sequence, const wire::Cycle& cycle)
{
    return std::string(1, kind) + ' ' + std::to_string(sequence) + ' ' + hexBytes(wire::encode(cycle));
}

std::string readSlavePath(Subprocess& display)
{
    const auto first = display.readLine(10s);
    EXPECT_TRUE(first);
    std::smatch match;
    const std::string line = first.value_or("");
    EXPECT_TRUE(std::regex_match(line, match, std::regex("lumora-display: listening on (/dev/pts/[0-9]+)"))) << line;
    return match.size() > 1 ? match[1].str() : std::string();
}

// Bytes a terminal would act on pass unchanged: in a cycle the lamp bytes
// NUL, ^C, ^D, ^H, DEL and 0xff, in the dropped partial LF, CR, XON and
// XOFF, all counted; a writer may close and another open the slave; a
// partial cycle before a silence is dropped; the run ends after the
// blanking.
TEST(LumoraDisplayProgram, PtyCarriesEveryByteAcrossWritersAndResyncsAfterSilence)
{
    TemporaryDirectory directory;
    const auto link = directory / "display-link";
    // A threshold that no stall of a loaded machine inside a cycle reaches,
    // and a silence well beyond it.
    Subprocess display(kProgram, {"--headless", "--print-cycles", "--silence-ms", "1000", "--quit-after-blankings", "1",
                                  "--link", link.string()});
    const std::string slave = readSlavePath(display);
    ASSERT_FALSE(slave.empty());
    ASSERT_EQ(std::filesystem::read_symlink(link).string(), slave);

    wire::Cycle awkward = sampleCycle(1);
    const std::uint8_t special[] = {0xff, 0x00, 0x03, 0x04, 0x08, 0x7f, 0x0f, 0x10};
    std::copy(std::begin(special), std::end(special), awkward.lamps.begin());

    int writer = ::open(link.c_str(), O_WRONLY | O_NOCTTY);
    ASSERT_GE(writer, 0);
    writeCycle(writer, awkward);
    ::close(writer);

    writer = ::open(slave.c_str(), O_WRONLY | O_NOCTTY);
    ASSERT_GE(writer, 0);
    writeCycle(writer, sampleCycle(2));
    auto partial = wire::encode(sampleCycle(3));
    const std::uint8_t translated[] = {0x0a, 0x0d, 0x11, 0x13};
    std::copy(std::begin(translated), std::end(translated), partial.begin() + 10);
    ASSERT_EQ(::write(writer, partial.data(), 50), 50);
    std::this_thread::sleep_for(2500ms);
    const auto blank = wire::encode(wire::blankCycle());
    ASSERT_EQ(::write(writer, blank.data(), blank.size()), static_cast<ssize_t>(blank.size()));
    ::close(writer);

    const std::vector<std::string> expected = {cycleLine('C', 1, awkward),
                                               cycleLine('C', 2, sampleCycle(2)),
                                               "R 3",
                                               cycleLine('B', 3, wire::blankCycle()),
                                               "cycles: 2",
                                               "blankings: 1",
                                               "resyncs: 1",
                                               "realignments: 0",
                                               "dropped: 50",
                                               "bytes: 302"};
    EXPECT_EQ(display.readRest(10s), expected);
    EXPECT_EQ(display.wait(10s), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

// SIGTERM ends a live run with the summary; what it recorded replays to
// the same cycle, both at recorded speed and fast.
TEST(LumoraDisplayProgram, SigtermEndsWithSummaryAndTheRecordingReplaysTheSame)
{
    TemporaryDirectory directory;
    const auto recording = directory / "run.rec";
    const auto link = directory / "display-link";
    {
        // Nothing here needs a silence: a threshold far above any stall of
        // a busy test machine.
        Subprocess display(kProgram, {"--headless", "--print-cycles", "--silence-ms", "60000", "--link", link.string(),
                                      "--record", recording.string()});
        const std::string slave = readSlavePath(display);
        ASSERT_FALSE(slave.empty());
        const int writer = ::open(slave.c_str(), O_WRONLY | O_NOCTTY);
        ASSERT_GE(writer, 0);
        writeCycle(writer, sampleCycle(7));
        ASSERT_EQ(display.readLine(10s), cycleLine('C', 1, sampleCycle(7)));
        ::close(writer);
        display.signal(SIGTERM);
        EXPECT_EQ(display.readRest(10s), (std::vector<std::string>{"cycles: 1", "blankings: 0", "resyncs: 0",
                                                                   "realignments: 0", "dropped: 0", "bytes: 84"}));
        EXPECT_EQ(display.wait(10s), 0);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    }
    for (const std::vector<std::string>& speed : {std::vector<std::string>{}, {"--fast"}}) {
        std::vector<std::string> arguments = {"--headless", "--print-cycles", "--silence-ms",
                                              "500",        "--replay",       recording.string()};
        arguments.insert(arguments.end(), speed.begin(), speed.end());
        Subprocess replay(kProgram, arguments);
        EXPECT_EQ(replay.readRest(10s),
                  (std::vector<std::string>{cycleLine('C', 1, sampleCycle(7)), "cycles: 1", "blankings: 0",
                                            "resyncs: 0", "realignments: 0", "dropped: 0", "bytes: 84"}));
        EXPECT_EQ(replay.wait(10s), 0);
    }
}

// Started as a script's background job, which ignores SIGINT, it keeps
// ignoring it: a Ctrl-C in that terminal is for the sender, which blanks
// the display before the display may go. SIGTERM still ends it.
TEST(LumoraDisplayProgram, IgnoredInterruptStaysIgnored)
{
    const auto previous = std::signal(SIGINT, SIG_IGN);
    Subprocess display(kProgram, {"--headless"});
    std::signal(SIGINT, previous);
    ASSERT_FALSE(readSlavePath(display).empty());
    display.signal(SIGINT);
    EXPECT_EQ(display.wait(500ms), -1) << "ended by SIGINT";
    display.signal(SIGTERM);
    EXPECT_EQ(display.readRest(10s), (std::vector<std::string>{"cycles: 0", "blankings: 0", "resyncs: 0",
                                                               "realignments: 0", "dropped: 0", "bytes: 0"}));
    EXPECT_EQ(display.wait(10s), 0);
}

// A replay reads its file as it plays: what comes before a bad line is
// shown, then the line is named and the program ends with status 1. A file
// that is not a recording is refused before anything plays.
TEST(LumoraDisplayProgram, ReplayPlaysUpToABadLineAndRefusesWhatIsNotARecording)
{
    TemporaryDirectory directory;
    const auto bytes = wire::encode(sampleCycle(7));
    const std::string cycle = recordingLine({0us, {bytes.begin(), bytes.end()}});
    struct Case {
        std::string text;
        std::vector<std::string> expected;  // stdout and stderr; PATH stands for the file
    };
    const Case cases[] = {
        {recordingHeader() + cycle + "2000 zz\n",
         {cycleLine('C', 1, sampleCycle(7)), "lumora-display: PATH: line 3: bad hex digit", "cycles: 1", "blankings: 0",
          "resyncs: 0", "realignments: 0", "dropped: 0", "bytes: 84"}},
        {"0 00\n" + cycle,
         {"lumora-display: PATH: line 1: not a lumora-display recording (it must start with '" +
          recordingHeader().substr(0, recordingHeader().size() - 1) + "')"}},
    };
    for (const Case& c : cases) {
        const std::string path = (directory / "replay.rec").string();
        std::ofstream(path) << c.text;
        std::vector<std::string> expected = c.expected;
        for (std::string& line : expected)
            if (const auto at = line.find("PATH"); at != std::string::npos)
                line.replace(at, 4, path);
        // Through a shell that joins standard error to standard output.
        Subprocess replay("/bin/sh", {"-c", "exec \"$0\" \"$@\" 2>&1", kProgram, "--headless", "--print-cycles",
                                      "--silence-ms", "500", "--fast", "--replay", path});
        EXPECT_EQ(replay.readRest(10s), expected);
        EXPECT_EQ(replay.wait(10s), 1);
    }
}

// --port reads through QSerialPort; here the "serial port" is the slave of
// a pseudo-terminal the test owns. Closing the master makes the device
// vanish: the program notices, prints its summary and ends with status 1
// instead of reading the dead port again and again.
TEST(LumoraDisplayProgram, PortModeReadsTheDeviceAndEndsWhenItVanishes)
{
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);  // not inherited by the child
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string device = ::ptsname(master);
    Subprocess display(kProgram, {"--headless", "--print-cycles", "--port", device});

    // The program sets the line raw when it opens the port; until a cycle
    // comes back, keep offering it (an early copy may arrive cooked and is
    // then dropped at the next silence).
    std::string cycle;
    for (int attempt = 0; attempt < 20 && cycle.empty(); ++attempt) {
        writeCycle(master, sampleCycle(5));
        while (auto line = display.readLine(300ms)) {
            if (line->rfind("C ", 0) == 0) {
                cycle = *line;
                break;
            }
        }
    }
    EXPECT_EQ(cycle.substr(cycle.find(' ', 2) + 1), hexBytes(wire::encode(sampleCycle(5))));

    ::close(master);
    const auto rest = display.readRest(10s);
    ASSERT_GE(rest.size(), 6U);
    EXPECT_EQ(rest[rest.size() - 5], "blankings: 0");
    EXPECT_EQ(display.wait(10s), 1);
}

// The window under a real X server (a private Xvfb started by the
// screenshot script): at the centre of every lamp the screen shows the
// lamp's colour when its bit is set and near-black when it is not.
TEST(LumoraDisplayProgram, WindowUnderXvfbLightsExactlyTheLampsOfTheFrame)
{
    TemporaryDirectory directory;
    wire::Cycle frame;
    for (int i = 0; i < wire::kLampBytes; ++i)
        frame.lamps[static_cast<std::size_t>(i)] = wire::levelLampByte(i * 7 % 9, i % 3 != 0);
    frame.lamps[0] = 0xff;
    frame.lamps[63] = 0x00;
    const std::string text = "Lamp test 1..8 pixel";
    std::copy(text.begin(), text.end(), frame.text.begin());
    {
        std::ofstream out(directory / "frame.rec");
        out << recordingHeader();
        const auto bytes = wire::encode(frame);
        out << recordingLine({0us, {bytes.begin(), bytes.end()}});
    }
    const auto shot = directory / "shot.png";
    const std::string command = kScreenshotScript + " --bin " + kProgram + " --replay " +
                                (directory / "frame.rec").string() + " --out " + shot.string();
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(shot.string())));
    EXPECT_EQ(image.width(), DisplayLayout::kDefaultWidth);
    EXPECT_EQ(image.height(), DisplayLayout::kDefaultHeight);
    const DisplayLayout layout(image.width(), image.height());
    int lit = 0;
    for (int row = 1; row <= wire::kRows; ++row) {
        for (int column = 1; column <= wire::kColumns; ++column) {
            for (int lamp = 1; lamp <= 8; ++lamp) {
                const PointF centre = layout.lampCentre(row, column, lamp);
                const QColor pixel = image.pixelColor(static_cast<int>(centre.x), static_cast<int>(centre.y));
                const int brightest = std::max({pixel.red(), pixel.green(), pixel.blue()});
                SCOPED_TRACE(::testing::Message() << "row " << row << " column " << column << " lamp " << lamp
                                                  << " pixel " << pixel.name().toStdString());
                if (wire::lampLit(frame.lamp(row, column), lamp)) {
                    ++lit;
                    EXPECT_GE(brightest, 170);
                    if (lamp <= 5) {
                        EXPECT_GT(pixel.green(), pixel.red());
                    }
                    if (lamp == 8) {
                        EXPECT_GT(pixel.red(), pixel.green());
                    }
                } else {
                    EXPECT_LE(brightest, 80);
                }
            }
        }
    }
    EXPECT_GT(lit, 100);
}

}  // namespace
}  // namespace lumora::display
