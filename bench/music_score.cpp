// SPDX-License-Identifier: GPL-3.0-or-later
// Scores the lamps of a run against what was played: reads
// `lumora-display --print-cycles` on standard input, stamps each cycle
// with the wall clock as it arrives, and at the end of input reads the
// phases that bench/music wrote while it played, one per line, times in
// seconds since the epoch:
//
//   play LABEL SET PERCENT START DROP END  a track; at DROP the volume went
//                                          from 100 % to PERCENT (100: never)
//   kicks KIND START END                   kicks at 120 bpm, alone or chord
//   pause START END                        the player stopped at START
//   demo START END                         the demo tune
//
// and prints, per SET of tracks (tuning, held): each band's mean level and
// how often it is dark or at 8 at 100 %, and the mean level 5 s after each
// drop against the same stretch at 100 %; then the kicks, the pause and
// the demo. Levels are the newest of both channels, 0..8.
//
//   lumora-display --headless --print-cycles ... | music_score PHASES
#include "cycleformat.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace lumora;

constexpr int kBands = wire::kRows;
using Levels = std::array<int, kBands>;

struct Cycle {
    double time;
    Levels left;
    Levels right;
    bool dark;  // all 64 lamp bytes 0
};

int levelOf(unsigned byte)
{
    if (byte == 0)
        return 0;
    // Bar mode lights lamps 1..level, dot mode lamp `level` alone.
    return (byte & (byte + 1)) == 0 ? std::popcount(byte) : std::countr_zero(byte) + 1;
}

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::vector<Cycle> readCycles(std::istream& in)
{
    std::vector<Cycle> cycles;
    std::string line;
    while (std::getline(in, line)) {
        const double now = wallSeconds();
        if (line.size() < 2 || line[0] != 'C')
            continue;
        std::istringstream fields(line.substr(2));
        std::string sequence, hex;
        fields >> sequence >> hex;
        if (hex.size() != 2 * wire::kCycleBytes)
            continue;
        Cycle cycle{now, {}, {}, true};
        for (int offset = 0; offset < wire::kLampBytes; ++offset) {
            const unsigned byte = std::stoul(hex.substr(static_cast<std::size_t>(2 * offset), 2), nullptr, 16);
            cycle.dark = cycle.dark && byte == 0;
            const int band = offset / wire::kColumns;
            const int column = offset % wire::kColumns;
            if (column == 0)
                cycle.left[static_cast<std::size_t>(band)] = levelOf(byte);
            if (column == wire::kColumns - 1)
                cycle.right[static_cast<std::size_t>(band)] = levelOf(byte);
        }
        cycles.push_back(cycle);
    }
    return cycles;
}

std::vector<const Cycle*> between(const std::vector<Cycle>& cycles, double from, double to)
{
    std::vector<const Cycle*> out;
    for (const Cycle& c : cycles)
        if (c.time >= from && c.time < to)
            out.push_back(&c);
    return out;
}

struct BandStats {
    std::array<double, kBands> sum{}, dark{}, full{};
    double count = 0;

    void add(const Levels& levels)
    {
        for (std::size_t b = 0; b < kBands; ++b) {
            sum[b] += levels[b];
            dark[b] += levels[b] == 0;
            full[b] += levels[b] == 8;
        }
        ++count;
    }
    void add(const std::vector<const Cycle*>& cycles)
    {
        for (const Cycle* c : cycles) {
            add(c->left);
            add(c->right);
        }
    }
    double mean(std::size_t b) const { return count ? sum[b] / count : 0; }
    double meanAll() const
    {
        double s = 0;
        for (std::size_t b = 0; b < kBands; ++b)
            s += mean(b);
        return s / kBands;
    }
};

void printBands(const char* what, const std::array<double, kBands>& values, const char* format)
{
    std::printf("    %-9s", what);
    for (double v : values)
        std::printf(format, v);
    std::printf("\n");
}

struct Play {
    std::string label, set;
    int percent;
    double start, drop, end;
};

void scoreTracks(const std::vector<Cycle>& cycles, const std::vector<Play>& plays, const std::string& set)
{
    // Each track's own figures at 100 %, then the tracks' average.
    std::array<double, kBands> mean{}, dark{}, full{};
    std::map<int, std::pair<double, double>> drops;  // percent: summed mean after, at 100 %
    int tracks = 0;
    std::printf("%s tracks\n", set == "held" ? "held-out" : "tuning");
    for (const Play& reference : plays) {
        if (reference.set != set || reference.percent != 100)
            continue;
        BandStats stats;
        stats.add(between(cycles, reference.start + 3.0, reference.end - 0.3));
        std::printf("  %-24s mean %4.2f   per band", reference.label.c_str(), stats.meanAll());
        for (std::size_t b = 0; b < kBands; ++b) {
            std::printf(" %3.1f", stats.mean(b));
            mean[b] += stats.mean(b);
            dark[b] += stats.count ? 100.0 * stats.dark[b] / stats.count : 0;
            full[b] += stats.count ? 100.0 * stats.full[b] / stats.count : 0;
        }
        ++tracks;
        // The same stretch of the track, 5 s after each drop and at 100 %.
        BandStats before;
        before.add(between(cycles, reference.start + 10.0, reference.end - 0.3));
        for (const Play& dropped : plays) {
            if (dropped.label != reference.label || dropped.percent == 100)
                continue;
            BandStats after;
            after.add(between(cycles, dropped.drop + 5.0, dropped.end - 0.3));
            drops[dropped.percent].first += after.meanAll();
            drops[dropped.percent].second += before.meanAll();
            std::printf(" | %d %%: %+3.0f %%", dropped.percent,
                        100.0 * (after.meanAll() - before.meanAll()) / std::max(before.meanAll(), 0.01));
        }
        std::printf("\n");
    }
    if (!tracks)
        return;
    for (std::size_t b = 0; b < kBands; ++b) {
        mean[b] /= tracks;
        dark[b] /= tracks;
        full[b] /= tracks;
    }
    std::printf("  at 100 %%, average of %d tracks, bands 0..7:\n", tracks);
    printBands("mean", mean, " %4.1f");
    printBands("dark %", dark, " %4.0f");
    printBands("at 8 %", full, " %4.0f");
    for (auto it = drops.rbegin(); it != drops.rend(); ++it)
        std::printf("  at %d %%, 5 s after the drop: mean %4.2f against %4.2f at 100 %%: %+3.0f %%\n", it->first,
                    it->second.first / tracks, it->second.second / tracks,
                    100.0 * (it->second.first - it->second.second) / std::max(it->second.second, 0.01));
}

// Kicks every 0.5 s: per beat, band 0's largest rise from one cycle to the
// next and over two cycles (the cycle the kick lands in and the next), and
// how far it falls after its peak before the next beat.
void scoreKicks(const std::vector<Cycle>& cycles, const std::string& kind, double start, double end)
{
    const auto range = between(cycles, start + 4.0, end - 0.5);
    if (range.size() < 40)
        return;
    std::vector<int> band0;
    std::vector<double> times;
    for (const Cycle* c : range) {
        band0.push_back(c->left[0]);
        times.push_back(c->time);
    }
    // The beats are where band 0 rises most; the first one sets the grid.
    std::size_t firstRise = 1;
    for (std::size_t i = 1; i < band0.size() && i < 40; ++i)
        if (band0[i] - band0[i - 1] > band0[firstRise] - band0[firstRise - 1])
            firstRise = i;
    int beats = 0, rose1 = 0, rose2 = 0, fell = 0;
    for (double beat = times[firstRise] - 0.1; beat + 0.5 <= times.back(); beat += 0.5) {
        int best1 = -9, best2 = -9, peakAt = -1;
        for (std::size_t i = 2; i < band0.size(); ++i) {
            if (times[i] < beat || times[i] >= beat + 0.5)
                continue;
            best1 = std::max(best1, band0[i] - band0[i - 1]);
            if (band0[i] - band0[i - 2] > best2) {
                best2 = band0[i] - band0[i - 2];
                peakAt = static_cast<int>(i);
            }
        }
        if (peakAt < 0)
            continue;
        int lowest = band0[static_cast<std::size_t>(peakAt)];
        for (std::size_t i = static_cast<std::size_t>(peakAt); i < band0.size() && times[i] < beat + 0.5; ++i)
            lowest = std::min(lowest, band0[i]);
        ++beats;
        rose1 += best1 >= 4;
        rose2 += best2 >= 4;
        fell += band0[static_cast<std::size_t>(peakAt)] - lowest >= 4;
    }
    std::printf("kicks at 120 bpm, %s: band 0 rose by 4 or more from one cycle to the next at %d of %d beats, "
                "over two cycles at %d, and fell back by 4 or more before the next beat at %d\n",
                kind.c_str(), rose1, beats, rose2, fell);
}

void scorePause(const std::vector<Cycle>& cycles, double start, double end)
{
    const auto after = between(cycles, start, end);
    double darkAt = -1;
    std::size_t lit = 0;
    for (const Cycle* c : after) {
        if (darkAt < 0 && c->dark)
            darkAt = c->time - start;
        if (darkAt >= 0 && !c->dark)
            ++lit;
    }
    std::printf("pause: every lamp dark %.0f ms after the player stopped (the output buffer's lag included); "
                "%zu cycles with a lamp lit in the %.0f s after\n",
                darkAt * 1000, lit, end - start);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumora-display --headless --print-cycles ... | music_score PHASES\n");
        return 2;
    }
    const std::vector<Cycle> cycles = readCycles(std::cin);
    std::ifstream phases(argv[1]);
    std::vector<Play> plays;
    std::string line;
    std::vector<std::string> rest;
    while (std::getline(phases, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "play") {
            Play play;
            fields >> play.label >> play.set >> play.percent >> play.start >> play.drop >> play.end;
            plays.push_back(play);
        } else {
            rest.push_back(line);
        }
    }
    for (const char* set : {"tuning", "held"})
        scoreTracks(cycles, plays, set);
    for (const std::string& other : rest) {
        std::istringstream fields(other);
        std::string kind, what;
        double start = 0, end = 0;
        fields >> kind;
        if (kind == "kicks")
            fields >> what;
        fields >> start >> end;
        if (kind == "kicks")
            scoreKicks(cycles, what, start, end);
        else if (kind == "pause")
            scorePause(cycles, start, end);
        else if (kind == "demo") {
            BandStats stats;
            stats.add(between(cycles, start + 3.0, end));
            std::array<double, kBands> mean{}, dark{};
            for (std::size_t b = 0; b < kBands; ++b) {
                mean[b] = stats.mean(b);
                dark[b] = stats.count ? 100.0 * stats.dark[b] / stats.count : 0;
            }
            std::printf("demo tune, bands 0..7:\n");
            printBands("mean", mean, " %4.1f");
            printBands("dark %", dark, " %4.0f");
        }
    }
    return 0;
}
