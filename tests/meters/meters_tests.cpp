// SPDX-License-Identifier: GPL-3.0-or-later
// VU and spectrum scaling, without a window.
#include "failure.h"
#include "meters.h"

#include <gtest/gtest.h>

#include <numeric>

namespace meters = lumora::meters;

namespace {

TEST(Rounding, HalvesGoToEven)
{
    const std::pair<double, std::int32_t> cases[] = {
        {3187.5, 3188}, {99.5, 100}, {100.5, 100}, {0.5, 0}, {1.5, 2}, {-0.5, 0}, {-1.5, -2}, {2.4999, 2},
    };
    for (auto [value, expected] : cases)
        EXPECT_EQ(meters::roundToInt32(value), expected) << value;
    EXPECT_THROW(meters::roundToInt32(3e9), lumora::Failure);
}

TEST(VuMeter, ScalesLinearlyUpToFullScaleAndClamps)
{
    const std::pair<std::int16_t, std::int32_t> cases[] = {
        {0, 0}, {1, 0}, {8000, 3188}, {16000, 6375}, {20000, 6375}, {32767, 6375}, {4000, 1594},
    };
    for (auto [vu, expected] : cases)
        EXPECT_EQ(meters::vuWidth(vu, 6375), expected) << "vu " << vu;
}

// Which band each position of an n-value list lands in.
std::vector<int> bandOfEachPosition(std::size_t n)
{
    std::vector<int> bands;
    for (std::size_t j = 0; j < n; ++j) {
        std::vector<std::uint8_t> values(n, 0);
        values[j] = 1;
        const auto sums = meters::bandSums(values);
        bands.push_back(static_cast<int>(std::find(sums.begin(), sums.end(), 1) - sums.begin()));
    }
    return bands;
}

TEST(SpectrumBands, FoldPositionsIntoTenthsWithTheLastThreeInBandSeven)
{
    EXPECT_EQ(bandOfEachPosition(10), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 7, 7}));
    EXPECT_EQ(bandOfEachPosition(3), (std::vector<int>{0, 3, 6}));
    EXPECT_EQ(bandOfEachPosition(1), (std::vector<int>{0}));
    const auto bands576 = bandOfEachPosition(576);
    EXPECT_EQ(bands576[57], 0);
    EXPECT_EQ(bands576[58], 1);
    EXPECT_EQ(bands576[403], 6);
    EXPECT_EQ(bands576[404], 7);
    EXPECT_EQ(bands576[575], 7);
    const auto bands320 = bandOfEachPosition(320);  // what the library delivers
    EXPECT_EQ(bands320[31], 0);
    EXPECT_EQ(bands320[32], 1);
    EXPECT_EQ(bands320[223], 6);
    EXPECT_EQ(bands320[224], 7);
}

TEST(SpectrumBands, SumEveryValueOfTheLargestList)
{
    const std::vector<std::uint8_t> values(16383, 255);
    const auto sums = meters::bandSums(values);
    EXPECT_EQ(std::accumulate(sums.begin(), sums.end(), std::int64_t{0}), 16383 * 255);
}

// The index counts to n in 16 bits: 32767 values are the most it can
// count; one more used to wrap it negative and read before the list.
TEST(SpectrumBands, MoreValuesThanTheSixteenBitIndexCountsAreAnOverflow)
{
    const auto sums = meters::bandSums(std::vector<std::uint8_t>(32767, 1));
    EXPECT_EQ(std::accumulate(sums.begin(), sums.end(), 0), 32767);
    for (std::size_t n : {32768u, 65536u, 100000u}) {
        try {
            meters::bandSums(std::vector<std::uint8_t>(n, 1));
            ADD_FAILURE() << n << " values were summed";
        } catch (const lumora::Failure& f) {
            EXPECT_EQ(f.number(), static_cast<int>(lumora::FailureNumber::Overflow)) << n;
        }
    }
}

TEST(SpectrumWidths, ApplyTheBandGainRoundAndClamp)
{
    struct Case {
        int band;
        std::int32_t sum;
        std::int32_t expected;
    };
    const Case cases[] = {
        {0, 8000, 795}, {0, 1000, 99}, {7, 255, 127}, {3, 3000, 795},
        {7, 1600, 795}, {0, 0, 0},     {5, -100, 0},  {4, 400, 131},
    };
    for (const auto& c : cases)
        EXPECT_EQ(meters::bandWidth(c.band, c.sum, 795), c.expected) << "band " << c.band << " sum " << c.sum;
}

TEST(SpectrumWidths, NoSpectrumIsSilence)
{
    const auto widths = meters::spectrumWidths(std::nullopt, 795);
    EXPECT_EQ(widths, (std::array<std::int32_t, 8>{}));
}

TEST(SpectrumWidths, BandsThatGetNoValuesStayAtZero)
{
    const auto widths = meters::spectrumWidths(std::vector<std::uint8_t>{255, 255, 255}, 795);
    // Bands 0, 3 and 6 take the three values; 255 * gain.
    EXPECT_EQ(widths, (std::array<std::int32_t, 8>{25, 0, 0, 69, 0, 0, 112, 0}));
}

}  // namespace
