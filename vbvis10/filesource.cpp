// SPDX-License-Identifier: GPL-3.0-or-later
#include "filesource.h"

#include "analysis.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace lumora::vbvis {

namespace {
constexpr std::size_t kBlockFrames = 2048;
}

FileSource::FileSource(SampleRing &ring, std::string path) : PacedSource(ring), m_path(std::move(path)) {}

FileSource::~FileSource()
{
    stopPacing();
    if (m_file)
        sf_close(m_file);
}

std::optional<std::string> FileSource::start()
{
    SF_INFO info{};
    m_file = sf_open(m_path.c_str(), SFM_READ, &info);
    if (!m_file)
        return "cannot play " + m_path + ": " + sf_strerror(nullptr);
    if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
        sf_close(m_file);
        m_file = nullptr;
        return "cannot play " + m_path + ": it holds no sound";
    }
    m_channels = info.channels;
    m_step = static_cast<double>(info.samplerate) / kSampleRate;
    m_block.resize(kBlockFrames * static_cast<std::size_t>(m_channels));
    // Prime the interpolation with the first two frames.
    nextFileFrame(m_previous[0], m_previous[1]);
    nextFileFrame(m_current[0], m_current[1]);
    startPacing();
    return std::nullopt;
}

bool FileSource::nextFileFrame(float &left, float &right)
{
    if (m_blockNext == m_blockFrames) {
        sf_count_t got = sf_readf_float(m_file, m_block.data(), kBlockFrames);
        if (got <= 0) {
            sf_seek(m_file, 0, SEEK_SET);
            got = sf_readf_float(m_file, m_block.data(), kBlockFrames);
        }
        if (got <= 0) {
            left = right = 0.0f;
            return false;
        }
        m_blockFrames = static_cast<std::size_t>(got);
        m_blockNext = 0;
    }
    const float *frame = m_block.data() + m_blockNext * static_cast<std::size_t>(m_channels);
    left = frame[0];
    right = m_channels > 1 ? frame[1] : frame[0];
    ++m_blockNext;
    return true;
}

void FileSource::render(std::span<int16_t> interleaved)
{
    auto toSample = [](double x) { return static_cast<int16_t>(std::lround(std::clamp(x, -1.0, 1.0) * 32767.0)); };
    for (std::size_t i = 0; i + 1 < interleaved.size(); i += 2) {
        while (m_position >= 1.0) {
            std::copy(std::begin(m_current), std::end(m_current), std::begin(m_previous));
            nextFileFrame(m_current[0], m_current[1]);
            m_position -= 1.0;
        }
        for (int c = 0; c < 2; ++c)
            interleaved[i + static_cast<std::size_t>(c)] =
                toSample(m_previous[c] + (m_current[c] - m_previous[c]) * m_position);
        m_position += m_step;
    }
}

} // namespace lumora::vbvis
