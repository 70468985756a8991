// SPDX-License-Identifier: GPL-3.0-or-later
// Uses every part of the shared headers, so that a build as C++14 without
// the C++ standard library compiles all of it. Nothing here runs.
#include "cyclereader.h"
#include "learnedsilence.h"

namespace {

lumora::wire::CycleReader reader;
lumora::wire::LearnedSilence<uint16_t, 8> silence({500, 100, 500});

}  // namespace

uint32_t readCyclesWithoutTheStandardLibrary(const uint8_t* bytes, int count)
{
    using lumora::wire::CycleReader;
    for (int i = 0; i < count; ++i) {
        silence.pauseInCycle(bytes[i]);
        if (reader.feed(bytes[i]) != CycleReader::Completed::Nothing && reader.cycle()[0] == 0) {
            silence.cycleEnded(true);
            reader.silence();
        }
    }
    return reader.counts().cycles + static_cast<uint32_t>(reader.pendingBytes()) + silence.threshold() +
           (lumora::wire::fitsCycleOffset(lumora::wire::levelLampByte(3, false), 0) ? 1U : 0U);
}
