// SPDX-License-Identifier: GPL-3.0-or-later
// The MAX7219 chain model against the datasheet: what the firmware's lamps
// are checked with must itself be right, or a firmware with the chain
// reversed would pass.
#include "max7219chain.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using lumora::sim::Max7219Chain;

// One 16-bit word per chip, the first word for the farthest chip, then LOAD.
void write(Max7219Chain& chain, const std::vector<std::uint16_t>& words)
{
    chain.setLoad(false);
    for (std::uint16_t word : words) {
        for (int bit = 15; bit >= 0; --bit) {
            chain.setDin(((word >> bit) & 1) != 0);
            chain.setClk(true);
            chain.setClk(false);
        }
    }
    chain.setLoad(true);
}

TEST(Max7219Chain, FollowsTheDatasheet)
{
    struct Case {
        const char* what;
        std::vector<std::vector<std::uint16_t>> writes;  // to a chain of three
        int chip;
        int digit;
        std::uint8_t lit;
    };
    const std::uint16_t run = 0x0C01;
    const std::vector<Case> cases = {
        {"shut down after power-up", {{0x0155, 0x0155, 0x0155}}, 0, 0, 0x00},
        {"digits undefined at power-up",
         {{run, run, run}, {0x0B07, 0x0B07, 0x0B07}},
         2,
         5,
         Max7219Chain::kPowerUpDigit},
        {"first word goes farthest", {{run, run, run}, {0x0111, 0x0122, 0x0133}}, 2, 0, 0x11},
        {"last word stays nearest", {{run, run, run}, {0x0111, 0x0122, 0x0133}}, 0, 0, 0x33},
        {"digit 7 at address 8", {{run, run, run}, {0x0B07, 0x0B07, 0x0B07}, {0x0881, 0x0000, 0x0000}}, 2, 7, 0x81},
        {"a no-op leaves a chip alone",
         {{run, run, run}, {0x0144, 0x0144, 0x0144}, {0x0000, 0x0000, 0x0155}},
         1,
         0,
         0x44},
        {"scan limit hides digits", {{run, run, run}, {0x0B02, 0x0B02, 0x0B02}, {0x0477, 0x0477, 0x0477}}, 1, 3, 0x00},
        {"display test lights all", {{0x0F01, 0x0F01, 0x0F01}}, 1, 6, 0xFF},
        {"code B decodes a 3", {{run, run, run}, {0x0901, 0x0901, 0x0901}, {0x0103, 0x0103, 0x0103}}, 0, 0, 0x79},
        {"no-decode shows the byte", {{run, run, run}, {0x0900, 0x0900, 0x0900}, {0x0103, 0x0103, 0x0103}}, 0, 0, 0x03},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Max7219Chain chain(3);
        for (const auto& words : c.writes)
            write(chain, words);
        EXPECT_EQ(chain.litSegments(c.chip, c.digit), c.lit);
    }
}

}  // namespace
