// SPDX-License-Identifier: GPL-3.0-or-later
// modVbVis10 against the test bridge library, loaded through the real
// dlopen path (LD_LIBRARY_PATH points at the test bridge).
#include "failure.h"
#include "modvbvis10.h"
#include "testbridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include <unistd.h>

using lumora::Failure;
using lumora::testing::BridgeCall;
using lumora::testing::TestBridge;
namespace bridge = lumora::modVbVis10;

namespace {

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override { lib.reset(); }
    TestBridge lib;
};

std::string spaces(std::size_t n)
{
    return std::string(n, ' ') + '\0';
}

TEST_F(BridgeTest, InstallPluginMapsAnyNonZeroResultToTrue)
{
    for (auto [result, expected] : {std::pair<std::int16_t, std::int16_t>{1, -1}, {-7, -1}, {0, 0}}) {
        lib.setInstallResult(result);
        EXPECT_EQ(bridge::InstallPlugin(), expected) << "library result " << result;
    }
}

TEST_F(BridgeTest, GetVuPassesValuesThroughAndReadsNegativesAsZero)
{
    for (auto [value, expected] :
         {std::pair<std::int16_t, std::int16_t>{-5, 0}, {16000, 16000}, {0, 0}, {32767, 32767}, {-32768, 0}}) {
        lib.setVu(1, value);
        EXPECT_EQ(bridge::GetVu(1), expected) << "library value " << value;
    }
    const auto calls = lib.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().function, TESTBRIDGE_VU);
    EXPECT_EQ(calls.back().channel, 1);
}

struct SpectrumCase {
    const char* name;
    std::int16_t count;
    std::string written;  // what the library writes into the buffer
    std::vector<std::uint8_t> expected;
};

TEST_F(BridgeTest, GetSpectrumDecodesEachHexPair)
{
    const SpectrumCase cases[] = {
        {"two digits per value", 3, "00FF7F", {0, 255, 127}},
        {"lower-case digits", 2, "ff0a", {255, 10}},
        {"unwritten positions read as 0", 4, "0102", {1, 2, 0, 0}},
        {"a leading blank is skipped", 3, " F\t7\n1", {15, 7, 1}},
        {"a trailing blank ends the digits", 2, "F 1 ", {15, 1}},
        {"a non-digit ends the digits", 3, "G11GZZ", {0, 1, 0}},
        {"a NUL ends the digits",
         3,
         std::string("1\0\0"
                     "22A",
                     6),
         {1, 0, 42}},
        {"the last character is never decoded", 2, "01027", {1, 2}},
    };
    for (const auto& c : cases) {
        lib.setCount(c.count);
        lib.setSpectrumText(0, c.written);
        const auto values = bridge::GetSpectrum(0);
        ASSERT_TRUE(values.has_value()) << c.name;
        EXPECT_EQ(*values, c.expected) << c.name;
    }
}

TEST_F(BridgeTest, GetSpectrumAsksTheCountOnChannelZeroThenFillsSpacesForTheChannel)
{
    lib.setCount(3);
    lib.setSpectrumText(1, "0A0B0C");
    const auto values = bridge::GetSpectrum(1);
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ(*values, (std::vector<std::uint8_t>{10, 11, 12}));

    const std::vector<BridgeCall> expected = {
        {TESTBRIDGE_SPECTRUM, 0, 0, true, std::string(1, '\0')},
        {TESTBRIDGE_SPECTRUM, 1, 7, true, spaces(7)},
    };
    EXPECT_EQ(lib.calls(), expected);
}

TEST_F(BridgeTest, ZeroCountStillMakesTheFillCallAndGivesNoList)
{
    lib.setCount(0);
    EXPECT_FALSE(bridge::GetSpectrum(0).has_value());
    const auto calls = lib.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], (BridgeCall{TESTBRIDGE_SPECTRUM, 0, 1, true, spaces(1)}));
}

TEST_F(BridgeTest, LargestCountFitsAndDecodesEveryValue)
{
    lib.setCount(bridge::kMaxSpectrumCount);
    std::string text;
    for (int i = 0; i < bridge::kMaxSpectrumCount; ++i) {
        static const char digits[] = "0123456789ABCDEF";
        text += digits[(i / 16) % 16];
        text += digits[i % 16];
    }
    lib.setSpectrumText(0, text);
    const auto values = bridge::GetSpectrum(0);
    ASSERT_TRUE(values.has_value());
    ASSERT_EQ(values->size(), 16383u);
    for (int i : {0, 1, 255, 256, 16382})
        EXPECT_EQ((*values)[static_cast<std::size_t>(i)], i % 256) << "value " << i;
    EXPECT_EQ(lib.calls().back().length, 32767);
}

TEST_F(BridgeTest, CountsOutsideTheSixteenBitBufferAreAnOverflow)
{
    for (std::int16_t n : {std::int16_t{16384}, std::int16_t{32767}, std::int16_t{-1}, std::int16_t{-32768}}) {
        lib.setCount(n);
        try {
            bridge::GetSpectrum(0);
            ADD_FAILURE() << "count " << n << " was accepted";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), static_cast<int>(lumora::FailureNumber::Overflow)) << n;
        }
    }
}

// The decoder alone: it reads 2n characters, so a shorter text (or a
// negative count) is refused instead of read past its end.
TEST(SpectrumText, ACountTheTextCannotHoldIsRefused)
{
    struct Case {
        std::string text;
        std::int16_t n;
        std::optional<std::vector<std::uint8_t>> expected;  // nothing: refused
    };
    const Case cases[] = {
        {"0102", 2, std::vector<std::uint8_t>{1, 2}},
        {"", 0, std::vector<std::uint8_t>{}},
        {"010", 2, std::nullopt},
        {"", 1, std::nullopt},
        {"0102", -1, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.text + "', n = " + std::to_string(c.n));
        const std::vector<char> text(c.text.begin(), c.text.end());  // exactly its characters, no NUL
        try {
            EXPECT_EQ(bridge::decodeSpectrumText(text, c.n), c.expected);
        } catch (const Failure& f) {
            EXPECT_FALSE(c.expected) << f.what();
            EXPECT_EQ(f.number(), static_cast<int>(lumora::FailureNumber::Internal));
        }
    }
}

// A fresh process with only the given folder on the library path: the
// library is loaded once per process, so these run as death tests.
void expectFailureInFreshProcess(const char* libraryDir, void (*call)(), int number, const char* text)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    const std::string saved = std::getenv("LD_LIBRARY_PATH") ? std::getenv("LD_LIBRARY_PATH") : "";
    setenv("LD_LIBRARY_PATH", libraryDir, 1);
    EXPECT_EXIT(
        {
            try {
                call();
            } catch (const Failure& f) {
                fprintf(stderr, "failure %d: %s\n", f.number(), f.what());
                std::_Exit(3);
            }
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(3), "failure " + std::to_string(number) + ": .*" + text);
    setenv("LD_LIBRARY_PATH", saved.c_str(), 1);
}

TEST(BridgeLoading, MissingLibraryFailsAtTheInstallationCall)
{
    expectFailureInFreshProcess(
        LUMORA_NO_BRIDGE_DIR, [] { bridge::InstallPlugin(); }, 1001, "Library not found: libVbVis10.so");
}

TEST(BridgeLoading, MissingFunctionsFailAtTheirOwnFirstCall)
{
    expectFailureInFreshProcess(
        LUMORA_PARTIAL_BRIDGE_DIR,
        [] {
            if (bridge::InstallPlugin() != -1)
                std::_Exit(4);
            bridge::GetVu(0);
        },
        1002, "vbvis_vu");
    expectFailureInFreshProcess(
        LUMORA_PARTIAL_BRIDGE_DIR,
        [] {
            bridge::InstallPlugin();
            bridge::GetSpectrum(0);
        },
        1002, "vbvis_spectrum");
}

}  // namespace

// The whole chain once: this link with the real libVbVis10.so playing its
// demo music. Spectra must arrive in the format the decoder reads and move.
TEST(RealLibrary, DemoSourceGivesMovingSpectraThroughTheLink)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    const std::string saved = std::getenv("LD_LIBRARY_PATH") ? std::getenv("LD_LIBRARY_PATH") : "";
    setenv("LD_LIBRARY_PATH", LUMORA_REAL_BRIDGE_DIR, 1);
    setenv("LUMORA_SOURCE", "demo", 1);
    EXPECT_EXIT(
        {
            if (bridge::InstallPlugin() != -1)
                std::_Exit(20);
            // Looks 25 ms apart until 20 distinct spectra and 20 loud looks,
            // for at most 400 looks: a loaded machine's late capture thread
            // may leave some looks unchanged, a frozen source never gets there.
            std::vector<std::vector<std::uint8_t>> seen;
            int loud = 0;
            for (int i = 0; i < 400 && (seen.size() < 20 || loud < 20); ++i) {
                usleep(25000);
                for (int channel : {0, 1}) {
                    auto spectrum = bridge::GetSpectrum(channel);
                    if (!spectrum || spectrum->size() != 320)
                        std::_Exit(21);
                    if (std::find(seen.begin(), seen.end(), *spectrum) == seen.end())
                        seen.push_back(*spectrum);
                }
                if (bridge::GetVu(0) > 0 && bridge::GetVu(1) > 0)
                    ++loud;
            }
            fprintf(stderr, "distinct spectra %zu, loud %d\n", seen.size(), loud);
            std::_Exit(seen.size() >= 20 && loud >= 20 ? 0 : 22);
        },
        ::testing::ExitedWithCode(0), "distinct spectra");
    setenv("LD_LIBRARY_PATH", saved.c_str(), 1);
    unsetenv("LUMORA_SOURCE");
}
