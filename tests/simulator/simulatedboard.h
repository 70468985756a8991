// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: lumora-sim as a child process running the real firmware
// image, the pseudo-terminal it listens on, and what it reports.
#pragma once

#include "subprocess.h"
#include "wireformat.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace lumora::sim::testing {

// One "U" line: what the display showed after an update; or one "S" line,
// what it showed at a simulated time (--snapshot), whose sequence and
// latency are 0.
struct ShownUpdate {
    long sequence = 0;
    long millisecond = 0;  // simulated
    long latencyMicroseconds = 0;
    std::string lamps;  // 64 lamp bytes in hex, as the cycle's encode() would give
    std::string line1;
    std::string line2;
};

std::string hexOfLamps(const wire::Cycle& cycle);
std::optional<ShownUpdate> parseUpdate(const std::string& line);
std::optional<ShownUpdate> parseSnapshot(const std::string& line);

// The firmware takes a line quiet for this long after its start as the
// start of a stream (before, it takes bytes as the middle of one): a
// display that was on before the sender started.
constexpr long kListeningMs = 600;

// A cycle as Lumora sends it: levels 0..8 in bar or dot mode, printable text.
wire::Cycle lumoraLikeCycle(std::mt19937& random, const std::string& text);

class SimulatedBoard {
public:
    // Always with a snapshot at kListeningMs.
    explicit SimulatedBoard(const std::vector<std::string>& extraArguments = {});
    ~SimulatedBoard();

    // Waits until the firmware has listened to a quiet line for
    // kListeningMs of simulated time, skipping updates.
    bool waitUntilListening(std::chrono::milliseconds timeout);
    // The snapshot taken at `ms` (--snapshot), skipping other lines.
    std::optional<ShownUpdate> snapshotAt(long ms, std::chrono::milliseconds timeout);

    // Writes all of `bytes` to the port, blocking while the pty is full.
    // lumora-sim takes them only as fast as the simulated line carries them
    // (5760 bytes per second of simulated time), so this is an unbroken
    // stream at the line's full rate, whatever the machine's load: a writer
    // that paced itself by the wall clock would leave gaps in the line
    // whenever the busy machine held it back.
    void send(const std::vector<std::uint8_t>& bytes);
    // Closes the port and opens it again, as a sender's next Start does.
    void reopen();
    // The next update, waiting up to `timeout` (wall time).
    std::optional<ShownUpdate> nextUpdate(std::chrono::milliseconds timeout);
    // Waits for the report of a reset by a port open ("R" line), skipping
    // updates.
    bool waitForReset(std::chrono::milliseconds timeout);
    // Stops the simulation; the summary's "name: value" lines.
    std::vector<std::string> finish();

private:
    // The next line that is `wanted`, skipping others, waiting up to `timeout`.
    std::optional<std::string> lineWhere(const std::function<bool(const std::string&)>& wanted,
                                         std::chrono::milliseconds timeout);

    test::Subprocess m_process;
    std::string m_portPath;
    int m_port = -1;
};

}  // namespace lumora::sim::testing
