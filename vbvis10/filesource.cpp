// SPDX-License-Identifier: GPL-3.0-or-later
#include "filesource.h"

#include "analysis.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lumora::vbvis {

namespace {
constexpr std::size_t kBlockFrames = 2048;
}  // namespace

// Bytes in memory read as a file through libsndfile's virtual I/O.
struct MemoryFile {
    std::span<const std::uint8_t> bytes;
    sf_count_t position = 0;

    static MemoryFile& of(void* user) { return *static_cast<MemoryFile*>(user); }
    static sf_count_t length(void* user) { return static_cast<sf_count_t>(of(user).bytes.size()); }
    static sf_count_t seek(sf_count_t offset, int whence, void* user)
    {
        MemoryFile& m = of(user);
        const sf_count_t size = static_cast<sf_count_t>(m.bytes.size());
        const sf_count_t base = whence == SEEK_CUR ? m.position : whence == SEEK_END ? size : 0;
        if (offset > size - base || offset < -base)
            return -1;
        m.position = base + offset;
        return m.position;
    }
    static sf_count_t read(void* buffer, sf_count_t count, void* user)
    {
        MemoryFile& m = of(user);
        const sf_count_t left = std::max<sf_count_t>(static_cast<sf_count_t>(m.bytes.size()) - m.position, 0);
        const sf_count_t n = std::clamp<sf_count_t>(count, 0, left);
        if (n > 0)
            std::memcpy(buffer, m.bytes.data() + m.position, static_cast<std::size_t>(n));
        m.position += n;
        return n;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* user) { return of(user).position; }
};

LoopingSoundFile::LoopingSoundFile() = default;

LoopingSoundFile::~LoopingSoundFile()
{
    if (m_file)
        sf_close(m_file);
}

bool LoopingSoundFile::open(const std::string& path, std::string& error)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        error = "cannot play " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    return prepare(file, info.samplerate, info.channels, info.frames, path, error);
}

bool LoopingSoundFile::open(std::span<const std::uint8_t> bytes, const std::string& name, std::string& error)
{
    static SF_VIRTUAL_IO io{MemoryFile::length, MemoryFile::seek, MemoryFile::read, MemoryFile::write,
                            MemoryFile::tell};
    m_memory = std::make_unique<MemoryFile>(MemoryFile{bytes, 0});
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, m_memory.get());
    if (!file) {
        error = "cannot play " + name + ": " + sf_strerror(nullptr);
        return false;
    }
    return prepare(file, info.samplerate, info.channels, info.frames, name, error);
}

bool LoopingSoundFile::prepare(SNDFILE* file, int sampleRate, int channels, std::int64_t frames,
                               const std::string& name, std::string& error)
{
    m_file = file;
    std::optional<std::string> problem;
    if (frames <= 0 || channels <= 0 || sampleRate <= 0)
        problem = "it holds no sound";
    else if (sampleRate < kMinFileSampleRate || sampleRate > kMaxFileSampleRate)
        problem = "its sample rate of " + std::to_string(sampleRate) + " Hz is outside " +
                  std::to_string(kMinFileSampleRate) + " to " + std::to_string(kMaxFileSampleRate) + " Hz";
    else if (channels > kMaxFileChannels)
        problem = "its " + std::to_string(channels) + " channels are more than " + std::to_string(kMaxFileChannels);
    if (!problem) {
        m_channels = channels;
        m_step = static_cast<double>(sampleRate) / kSampleRate;
        m_block.resize(kBlockFrames * static_cast<std::size_t>(m_channels));
        // Prime the interpolation with the first two frames.
        nextFileFrame(m_previous[0], m_previous[1]);
        nextFileFrame(m_current[0], m_current[1]);
        if (m_finished)
            problem = "its sound cannot be read";
    }
    if (problem) {
        sf_close(m_file);
        m_file = nullptr;
        error = "cannot play " + name + ": " + *problem;
        return false;
    }
    return true;
}

bool LoopingSoundFile::nextFileFrame(float& left, float& right)
{
    if (m_blockNext == m_blockFrames && !m_finished) {
        if (m_wholeFileInBlock) {
            m_blockNext = 0;
        } else {
            sf_count_t got = sf_readf_float(m_file, m_block.data(), kBlockFrames);
            if (got <= 0) {
                // The end: from the start again. Nothing even there means the
                // file was truncated or cannot be decoded; trying again on
                // every frame would only spin.
                got = sf_seek(m_file, 0, SEEK_SET) == 0 ? sf_readf_float(m_file, m_block.data(), kBlockFrames) : 0;
                m_wholeFileInBlock = got > 0 && static_cast<std::size_t>(got) < kBlockFrames;
                m_finished = got <= 0;
            }
            m_blockFrames = got > 0 ? static_cast<std::size_t>(got) : 0;
            m_blockNext = 0;
        }
    }
    if (m_finished) {
        left = right = 0.0f;
        return false;
    }
    const float* frame = m_block.data() + m_blockNext * static_cast<std::size_t>(m_channels);
    left = frame[0];
    right = m_channels > 1 ? frame[1] : frame[0];
    ++m_blockNext;
    return true;
}

void LoopingSoundFile::render(std::span<int16_t> interleaved)
{
    if (m_finished) {
        std::fill(interleaved.begin(), interleaved.end(), int16_t{0});
        return;
    }
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

FileSource::FileSource(SampleRing& ring, std::string path, std::ostream& log)
    : PacedSource(ring), m_path(std::move(path)), m_log(log)
{
}

FileSource::~FileSource()
{
    stopPacing();
}

bool FileSource::start(std::string& error)
{
    if (!m_sound.open(m_path, error))
        return false;
    startPacing();
    return true;
}

void FileSource::render(std::span<int16_t> interleaved)
{
    m_sound.render(interleaved);
    if (m_sound.finished() && !m_reported) {
        m_reported = true;
        m_log << "libVbVis10: cannot read " << m_path << " any more, not even from its start: "
              << "silence from now on\n"
              << std::flush;
    }
}

}  // namespace lumora::vbvis
