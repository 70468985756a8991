// SPDX-License-Identifier: GPL-3.0-or-later
// The lamp frame, the marquee and the byte layout of a cycle, without a port.
#include "failure.h"
#include "framematrix.h"
#include "marquee.h"
#include "streamingrun.h"
#include "wireformat.h"

#include <gtest/gtest.h>

using lumora::LampFrame;

namespace {

using Row = std::array<std::int16_t, 8>;
using Widths = std::array<float, 8>;

Row row(const LampFrame& frame, int r)
{
    Row values{};
    for (int c = 1; c <= 8; ++c)
        values[static_cast<std::size_t>(c - 1)] = frame(r, c);
    return values;
}

Widths all(float w)
{
    Widths widths;
    widths.fill(w);
    return widths;
}

TEST(LampLevel, RoundsHalvesUpFromTheWidth)
{
    const std::pair<float, int> cases[] = {
        {0, 0}, {49, 0}, {49.99f, 0}, {50, 1}, {149, 1}, {150, 2}, {750, 8}, {795, 8}, {800, 8}, {850, 9}, {-60, -1},
    };
    for (auto [width, level] : cases)
        EXPECT_EQ(lumora::levelFromWidth(width), level) << "width " << width;
}

TEST(LampByte, BarModeLightsUpToTheLevelDotModeOnlyIt)
{
    const std::int16_t bar[] = {0, 1, 3, 7, 15, 31, 63, 127, 255};
    const std::int16_t dot[] = {0, 1, 2, 4, 8, 16, 32, 64, 128};
    for (int level = 0; level <= 8; ++level) {
        EXPECT_EQ(lumora::lampByte(level, true), bar[level]) << level;
        EXPECT_EQ(lumora::lampByte(level, false), dot[level]) << level;
    }
    for (int level : {9, -1, 300})
        EXPECT_EQ(lumora::lampByte(level, true), level);
    EXPECT_THROW(lumora::lampByte(40000, true), lumora::Failure);
}

TEST(FrameUpdate, NewLevelsEnterAtTheEdgesAndAgeTowardsTheMiddle)
{
    LampFrame frame;
    Widths left = all(0);
    Widths right = all(0);
    left[0] = 500;   // level 5
    right[0] = 200;  // level 2

    lumora::UpdateFrameMatrix(frame, left, right, [] { return true; });
    EXPECT_EQ(row(frame, 1), (Row{31, 0, 0, 0, 0, 0, 0, 3}));
    EXPECT_EQ(row(frame, 2), Row{});

    left[0] = 100;   // level 1
    right[0] = 800;  // level 8
    lumora::UpdateFrameMatrix(frame, left, right, [] { return true; });
    EXPECT_EQ(row(frame, 1), (Row{1, 31, 0, 0, 0, 0, 3, 255}));

    lumora::UpdateFrameMatrix(frame, left, right, [] { return true; });
    lumora::UpdateFrameMatrix(frame, left, right, [] { return true; });
    EXPECT_EQ(row(frame, 1), (Row{1, 1, 1, 31, 3, 255, 255, 255})) << "the first levels are the oldest now";
    lumora::UpdateFrameMatrix(frame, left, right, [] { return true; });
    EXPECT_EQ(row(frame, 1), (Row{1, 1, 1, 1, 255, 255, 255, 255})) << "four updates with constant levels";

    lumora::UpdateFrameMatrix(frame, left, right, [] { return false; });
    EXPECT_EQ(row(frame, 1), (Row{1, 1, 1, 1, 255, 255, 255, 128}))
        << "a change of mode affects only the newest columns";
}

TEST(FrameUpdate, ModeIsAskedOncePerRowAndEachRowUsesItsOwnBand)
{
    LampFrame frame;
    Widths left;
    Widths right;
    for (int b = 0; b < 8; ++b) {
        left[static_cast<std::size_t>(b)] = static_cast<float>(100 * b);
        right[static_cast<std::size_t>(b)] = static_cast<float>(100 * (8 - b));
    }
    int asked = 0;
    lumora::UpdateFrameMatrix(frame, left, right, [&] { return ++asked % 2 == 1; });
    EXPECT_EQ(asked, 8);
    for (int r = 1; r <= 8; ++r) {
        const bool bars = r % 2 == 1;
        EXPECT_EQ(frame(r, 1), lumora::lampByte(r - 1, bars)) << "row " << r;
        EXPECT_EQ(frame(r, 8), lumora::lampByte(9 - r, bars)) << "row " << r;
    }
}

TEST(Marquee, RotatesOnePendingTickPerCycle)
{
    std::string text(lumora::kInitialMarqueeText);
    ASSERT_EQ(text.size(), 48u);
    EXPECT_EQ(lumora::marqueeSlice(text), "Megacool - zelf gema");

    std::int16_t scrollFlag = 0;
    lumora::consumeTick(scrollFlag, text);
    EXPECT_EQ(lumora::marqueeSlice(text), "Megacool - zelf gema") << "no tick, no rotation";

    scrollFlag = -1;
    lumora::consumeTick(scrollFlag, text);
    EXPECT_EQ(scrollFlag, 0);
    EXPECT_EQ(lumora::marqueeSlice(text), "egacool - zelf gemaa");
    EXPECT_EQ(text.substr(text.size() - 6), " ... M");
    lumora::consumeTick(scrollFlag, text);
    EXPECT_EQ(lumora::marqueeSlice(text), "egacool - zelf gemaa") << "one tick, one rotation";

    for (int i = 1; i < 48; ++i) {
        scrollFlag = -1;
        lumora::consumeTick(scrollFlag, text);
    }
    EXPECT_EQ(text, lumora::kInitialMarqueeText);
}

TEST(CycleBytes, FrameRowsThenTheSliceInWireOrder)
{
    LampFrame frame;
    frame(1, 1) = 0x0A;
    frame(1, 2) = 0x0D;
    frame(4, 5) = 0x11;
    frame(8, 8) = 0xFF;
    const auto bytes = lumora::wire::encode(lumora::currentCycle(frame, std::string(lumora::kInitialMarqueeText)));
    EXPECT_EQ(bytes[0], 0x0A);
    EXPECT_EQ(bytes[1], 0x0D);
    EXPECT_EQ(bytes[3 * 8 + 4], 0x11);
    EXPECT_EQ(bytes[63], 0xFF);
    EXPECT_EQ(std::string(bytes.begin() + 64, bytes.end()), "Megacool - zelf gema");

    frame(2, 3) = 256;
    EXPECT_THROW(lumora::currentCycle(frame, "x"), lumora::Failure);
}

TEST(WireSteps, CycleAndBlankingCarryTheirPauses)
{
    lumora::wire::Cycle cycle;
    cycle.lamps.fill(7);
    cycle.text.fill('x');
    const auto steps = lumora::wire::cycleSteps(cycle);
    ASSERT_EQ(steps.size(), 28u);
    int bytes = 0;
    int yields = 0;
    for (const auto& step : steps) {
        bytes += static_cast<int>(step.bytes.size());
        yields += step.yieldsAfter;
    }
    EXPECT_EQ(bytes, 84);
    EXPECT_EQ(yields, 12000);
    EXPECT_EQ(steps[7].bytes.size(), 8u);
    EXPECT_EQ(steps[8], (lumora::wire::Step{{'x'}, 500}));

    const auto blanking = lumora::wire::blankingSteps();
    ASSERT_EQ(blanking.size(), 29u);
    EXPECT_EQ(blanking[0], (lumora::wire::Step{{}, 5000}));
    EXPECT_EQ(blanking[1], (lumora::wire::Step{std::vector<std::uint8_t>(8, 0), 2000}));
    EXPECT_EQ(blanking[28], (lumora::wire::Step{{' '}, 2000}));
}

}  // namespace
