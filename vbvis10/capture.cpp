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

bool Capture::install(const char* choiceText, std::ostream& log)
{
    std::lock_guard lock(m_installMutex);
    if (m_source)
        return true;
    const std::optional<SourceChoice> choice = parseSourceChoice(choiceText ? choiceText : "");
    if (!choice) {
        log << kLogPrefix << "LUMORA_SOURCE=" << choiceText << " is not one of " << kSourceChoiceForms << '\n';
        return false;
    }
    if (choice->kind == SourceChoice::Kind::Auto) {
        auto pulse = makeSource({SourceChoice::Kind::Pulse, std::string()});
        std::string error;
        if (pulse->start(error)) {
            m_source = std::move(pulse);
            return true;
        }
        log << kLogPrefix << error << "; playing the built-in demo signal instead\n";
        pulse.reset();
        m_ring.clear();
        auto demo = makeSource({SourceChoice::Kind::Demo, std::string()});
        std::string never;
        demo->start(never);
        m_source = std::move(demo);
        return true;
    }
    auto source = makeSource(*choice);
    std::string error;
    if (!source->start(error)) {
        log << kLogPrefix << error << '\n';
        return false;
    }
    m_source = std::move(source);
    return true;
}

int16_t Capture::vu(int32_t channel) const
{
    m_demand.touch();
    std::array<int16_t, kVuLength> samples;
    if (!m_ring.readNewest(channel, samples))
        return 0;
    return vuFromSamples(samples);
}

int16_t Capture::spectrum(int32_t channel, char* buffer, int32_t length) const
{
    m_demand.touch();
    if (buffer && length > 0) {
        std::array<int16_t, kFftLength> samples;
        std::array<uint8_t, kSpectrumValues> values{};
        if (m_ring.readNewest(channel, samples))
            m_analyzer.compute(samples, values);
        writeHex(values, {buffer, static_cast<std::size_t>(length)});
    }
    return static_cast<int16_t>(kSpectrumValues);
}

}  // namespace lumora::vbvis
