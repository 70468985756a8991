// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audiosource.h"
#include "demand.h"
#include "samplering.h"
#include "sourcechoice.h"
#include "spectrumvalues.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace lumora::vbvis {

// What the three exported functions stand on: one audio source, the ring it
// fills, the analysis of the ring's newest frames and the sensitivity that
// reads them as lamp levels. install() is called from the program's thread;
// vu() and spectrum() from any thread, any number at once; they copy the
// newest frames under the ring's short lock and do their arithmetic on the
// caller's thread. Both channels are analysed together, once for each new
// stretch of sound that a call asks about, so that the sensitivity follows
// the sound, not the calls. A second without a call pauses the source (see
// Demand); the next call resumes it and, like the calls until its first
// fresh frames, answers silence at once.
class Capture {
public:
    Capture();
    ~Capture();

    // Attaches the chosen source (text as in LUMORA_SOURCE; nullptr as
    // unset) with the chosen sensitivity (as LUMORA_SENSITIVITY: "auto" or
    // unset, "fixed"). True when attached; false, with one line on log
    // saying why, when the source cannot be opened or the sensitivity is
    // neither. Once attached, further calls change nothing and answer true.
    bool install(const char* choice, std::ostream& log, const char* sensitivity = nullptr);

    // RMS of the channel's newest 1024 samples in 16-bit units, scaled by
    // the sensitivity, 0..32767. Channel 0 is left; any other channel is
    // right.
    int16_t vu(int32_t channel) const;

    // Writes the channel's kSpectrumValues spectrum values as hex text into
    // buffer, at most length characters (none when length <= 0 or buffer is
    // null), and answers kSpectrumValues.
    int16_t spectrum(int32_t channel, char* buffer, int32_t length) const;

    SampleRing& ring() { return m_ring; }

private:
    // The source, not yet started, told when the calls ask for its values.
    std::unique_ptr<AudioSource> makeSource(const SourceChoice& choice);

    // Keeps a started source and lets the calls serve it; true.
    bool keep(std::unique_ptr<AudioSource> source);

    // A call came: the source resumes if paused and takes in its newest sound.
    void call() const;

    // Both channels' values for the newest sound, worked out again when the
    // ring has moved on since.
    void analyse() const;

    SampleRing m_ring;
    mutable Demand m_demand;  // every vu() and spectrum() call touches it
    mutable std::mutex m_analysisMutex;
    mutable SpectrumValues m_spectrum;
    static constexpr std::uint64_t kNeverAnalysed = UINT64_MAX;
    mutable std::uint64_t m_analysedAt = kNeverAnalysed;  // the ring's frames written when last analysed
    mutable bool m_analysedFresh = false;
    std::mutex m_installMutex;
    std::unique_ptr<AudioSource> m_source;
    std::atomic<AudioSource*> m_served{nullptr};  // m_source once started, for the calls
};

}  // namespace lumora::vbvis
