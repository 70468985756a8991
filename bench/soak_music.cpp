// SPDX-License-Identifier: GPL-3.0-or-later
// Endless music-like sound for the soak: raw signed 16-bit little-endian
// stereo at 44100 Hz on standard output, for pacat to play. Writes as fast
// as the reader takes; ends when the reader goes away.
#include "musiclikesignal.h"

#include <array>
#include <cstdio>

int main()
{
    lumora::testing::MusicLikeSignal signal(lumora::testing::MusicLikeSignal::Colour::Pink);
    std::array<int16_t, 2 * 1024> frames;
    for (;;) {
        signal.render(frames);
        if (std::fwrite(frames.data(), sizeof frames[0], frames.size(), stdout) != frames.size())
            return 0;
    }
}
