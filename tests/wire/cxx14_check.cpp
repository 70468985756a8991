// SPDX-License-Identifier: GPL-3.0-or-later
// Uses every part of the shared headers, so that a build as C++14 without
// the C++ standard library compiles all of it. Nothing here runs.
#include "cyclereader.h"

namespace {

lumora::wire::CycleReader reader;

}  // namespace

uint32_t readCyclesWithoutTheStandardLibrary(const uint8_t* bytes, int count)
{
    using lumora::wire::CycleReader;
    for (int i = 0; i < count; ++i) {
        if (reader.feed(bytes[i]) != CycleReader::Completed::Nothing && reader.cycle()[0] == 0)
            reader.silence();
    }
    return reader.counts().cycles + static_cast<uint32_t>(reader.pendingBytes()) +
           (lumora::wire::fitsCycleOffset(lumora::wire::levelLampByte(3, false), 0) ? 1U : 0U);
}
