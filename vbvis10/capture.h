// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis.h"
#include "audiosource.h"
#include "demand.h"
#include "samplering.h"
#include "sourcechoice.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace lumora::vbvis {

// What the three exported functions stand on: one audio source, the ring it
// fills and the analysis of the ring's newest frames. install() is called
// from the program's thread; vu() and spectrum() from any thread, any
// number at once; they copy the newest frames under the ring's short lock
// and do their arithmetic on the caller's thread. A second without a call
// pauses the source (see Demand); the next call resumes it and, like the
// calls until its first fresh frames, answers silence at once.
class Capture {
public:
    Capture();
    ~Capture();

    // Attaches the chosen source (text as in LUMORA_SOURCE; nullptr as
    // unset). True when attached; false, with one line on log saying why,
    // when the source cannot be opened. Once attached, further calls
    // change nothing and answer true.
    bool install(const char* choice, std::ostream& log);

    // RMS of the channel's newest 1024 samples in 16-bit units, 0..32767.
    // Channel 0 is left; any other channel is right.
    int16_t vu(int32_t channel) const;

    // Writes the channel's 576 spectrum values as hex text into buffer, at
    // most length characters (none when length <= 0 or buffer is null), and
    // answers 576.
    int16_t spectrum(int32_t channel, char* buffer, int32_t length) const;

    SampleRing& ring() { return m_ring; }

private:
    // The source, not yet started, told when the calls ask for its values.
    std::unique_ptr<AudioSource> makeSource(const SourceChoice& choice);

    SampleRing m_ring;
    SpectrumAnalyzer m_analyzer;
    mutable Demand m_demand;  // every vu() and spectrum() call touches it
    std::mutex m_installMutex;
    std::unique_ptr<AudioSource> m_source;
};

}  // namespace lumora::vbvis
