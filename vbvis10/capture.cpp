// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture.h"

#include "demosource.h"
#include "fifosource.h"
#include "filesource.h"
#include "pulsesource.h"

#include <array>

namespace lumora::vbvis {

namespace {
constexpr std::string_view kLogPrefix = "libVbVis10: ";
}

Capture::Capture() = default;

Capture::~Capture()
{
    std::lock_guard lock(m_installMutex);
    m_served.store(nullptr);
    m_source.reset();  // stops the capture thread before the ring goes
}

std::unique_ptr<AudioSource> Capture::makeSource(const SourceChoice& choice)
{
    std::unique_ptr<AudioSource> source;
    switch (choice.kind) {
    case SourceChoice::Kind::Pulse: source = std::make_unique<PulseSource>(m_ring, choice.argument); break;
    case SourceChoice::Kind::Fifo: source = std::make_unique<FifoSource>(m_ring, choice.argument); break;
    case SourceChoice::Kind::File: source = std::make_unique<FileSource>(m_ring, choice.argument); break;
    case SourceChoice::Kind::Demo:
    case SourceChoice::Kind::Auto: source = std::make_unique<DemoSource>(m_ring); break;
    }
    source->setDemand(&m_demand);
    return source;
}

bool Capture::install(const char* choiceText, std::ostream& log, const char* sensitivity)
{
    std::lock_guard lock(m_installMutex);
    if (m_source)
        return true;
    const std::optional<SensitivityMode> mode = parseSensitivityMode(sensitivity ? sensitivity : "");
    if (!mode) {
        log << kLogPrefix << "LUMORA_SENSITIVITY=" << sensitivity << " is not one of " << kSensitivityForms << '\n';
        return false;
    }
    {
        std::lock_guard analysisLock(m_analysisMutex);
        m_spectrum.setMode(*mode);
    }
    const std::optional<SourceChoice> choice = parseSourceChoice(choiceText ? choiceText : "");
    if (!choice) {
        log << kLogPrefix << "LUMORA_SOURCE=" << choiceText << " is not one of " << kSourceChoiceForms << '\n';
        return false;
    }
    if (choice->kind == SourceChoice::Kind::Auto) {
        auto pulse = makeSource({SourceChoice::Kind::Pulse, std::string()});
        std::string error;
        if (pulse->start(error))
            return keep(std::move(pulse));
        log << kLogPrefix << error << "; playing the built-in demo signal instead\n";
        pulse.reset();
        m_ring.clear();
        auto demo = makeSource({SourceChoice::Kind::Demo, std::string()});
        std::string never;
        demo->start(never);
        return keep(std::move(demo));
    }
    auto source = makeSource(*choice);
    std::string error;
    if (!source->start(error)) {
        log << kLogPrefix << error << '\n';
        return false;
    }
    return keep(std::move(source));
}

bool Capture::keep(std::unique_ptr<AudioSource> source)
{
    m_source = std::move(source);
    m_served.store(m_source.get());
    return true;
}

void Capture::call() const
{
    m_demand.touch();
    if (AudioSource* source = m_served.load())
        source->serve();
}

int16_t Capture::vu(int32_t channel) const
{
    call();
    std::array<float, kVuLength> samples;
    if (!m_ring.readNewest(channel, samples))
        return 0;
    const int16_t rms = vuFromSamples(samples);
    std::lock_guard lock(m_analysisMutex);
    return m_spectrum.sensitivity().vu(rms);
}

int16_t Capture::spectrum(int32_t channel, char* buffer, int32_t length) const
{
    call();
    if (buffer && length > 0) {
        analyse();
        std::lock_guard lock(m_analysisMutex);
        writeHex(m_spectrum.values(channel), {buffer, static_cast<std::size_t>(length)});
    }
    return static_cast<int16_t>(kSpectrumValues);
}

void Capture::analyse() const
{
    const std::uint64_t written = m_ring.framesWritten();
    std::array<std::array<float, kFftLength>, 2> samples;
    const bool leftFresh = m_ring.readNewest(0, samples[0]);
    const bool fresh = m_ring.readNewest(1, samples[1]) || leftFresh;
    // The other channel's call, or a call before new sound, finds the
    // values made for it.
    std::lock_guard lock(m_analysisMutex);
    if (written == m_analysedAt && fresh == m_analysedFresh)
        return;
    const double seconds = m_analysedAt == kNeverAnalysed || written < m_analysedAt
                               ? 0.0
                               : static_cast<double>(written - m_analysedAt) / kSampleRate;
    m_analysedAt = written;
    m_analysedFresh = fresh;
    m_spectrum.update(samples[0], samples[1], seconds);
}

}  // namespace lumora::vbvis
