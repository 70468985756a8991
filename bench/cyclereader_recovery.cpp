// SPDX-License-Identifier: GPL-3.0-or-later
// What one fault on the line costs the cycle reader, over many streams:
// for each kind of text, a byte lost, repeated, added (a random value) or
// corrupted (a random bit) at every offset of a cycle, and how many cycles
// were then not shown exactly (the one hit included), as a distribution.
// The streams come from Lumora's own frame update and marquee; the rows
// marked "two-way seams" keep the bytes where lamps and text meet among the
// values that fit both ways (so that only the frame's history shows a
// count one byte off), those marked "no history" scramble the frame every
// cycle (so that the reader has the content alone).
// Not a timing: a count, the same on every machine.
//   build-release/bin/cyclereader_recovery [streams per offset, default 300]
#include "cyclereader.h"
#include "runcycles.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace lumora;
using testing::Fault;

constexpr int kCycles = 12;
constexpr int kFaulty = 4;
constexpr int kColumns = 5;  // cycles lost: 0, 1, 2, 3, 4 or more

}  // namespace

int main(int argc, char** argv)
{
    const int streams = argc > 1 ? std::atoi(argv[1]) : 300;
    using Frames = testing::RunCycles::Frames;
    struct Text {
        const char* name;
        int spacePercent;
        Frames frames;
    };
    const Text texts[] = {{"marquee", testing::RunCycles::kMarquee, Frames::Lumora},
                          {"random, 0% spaces", 0, Frames::Lumora},
                          {"random, 30% spaces", 30, Frames::Lumora},
                          {"random, 60% spaces", 60, Frames::Lumora},
                          {"random, 90% spaces", 90, Frames::Lumora},
                          {"marquee, two-way seams", testing::RunCycles::kMarquee, Frames::TwoWaySeams},
                          {"random 60%, two-way seams", 60, Frames::TwoWaySeams},
                          {"marquee, no history", testing::RunCycles::kMarquee, Frames::NoHistory},
                          {"random 90%, no history", 90, Frames::NoHistory}};
    const struct {
        const char* name;
        Fault fault;
    } faults[] = {
        {"lost", Fault::Lost}, {"repeated", Fault::Repeated}, {"added", Fault::Added}, {"corrupted", Fault::Corrupted}};

    std::printf("%-26s %-10s %8s %8s %8s %8s %8s %8s  %s\n", "text", "fault", "faults", "lost 0", "1", "2", "3", "4+",
                "shown wrong");
    for (const Text& text : texts) {
        for (const auto& fault : faults) {
            long histogram[kColumns] = {};
            long shownWrong = 0, total = 0;
            for (int seed = 1; seed <= streams; ++seed) {
                testing::RunCycles run(static_cast<unsigned>(seed), text.spacePercent, text.frames);
                std::vector<wire::Cycle> sent;
                for (int i = 0; i < kCycles; ++i)
                    sent.push_back(run.next());
                for (int offset = 0; offset < wire::kCycleBytes; ++offset) {
                    const auto value =
                        static_cast<std::uint8_t>(fault.fault == Fault::Corrupted ? 1 << run.below(8) : run.below(256));
                    wire::CycleReader reader;
                    std::vector<wire::Cycle> reported;
                    for (std::uint8_t byte : testing::faultyStream(sent, kFaulty, offset, fault.fault, value)) {
                        if (reader.feed(byte) != wire::CycleReader::Completed::Nothing)
                            reported.push_back(wire::decode({reader.cycle(), std::size_t{wire::kCycleBytes}}));
                    }
                    const std::vector<bool> shown = testing::shownExactly(sent, reported);
                    int lost = 0;
                    for (bool exact : shown)
                        lost += exact ? 0 : 1;
                    const long right = kCycles - lost;
                    shownWrong += static_cast<long>(reported.size()) - right;
                    ++histogram[lost < kColumns ? lost : kColumns - 1];
                    ++total;
                }
            }
            std::printf("%-26s %-10s %8ld %8ld %8ld %8ld %8ld %8ld  %ld\n", text.name, fault.name, total, histogram[0],
                        histogram[1], histogram[2], histogram[3], histogram[4], shownWrong);
        }
    }
    return 0;
}
