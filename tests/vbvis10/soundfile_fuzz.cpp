// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the file source's decoding on any bytes, read through
// libsndfile's virtual I/O.
//
// Input: when byte 0 % 4 is 0 the rest is the whole file. Otherwise it
// picks one of three small real files (WAV, AIFF, AU, written by libsndfile
// at start), and the rest of the input is XORed over that file's bytes and
// appended beyond them, so that mutated headers (rates, channel counts,
// chunk sizes) are tried as often as arbitrary ones. An opened file is
// played for 0.1 s of output. Traps when a file is opened that breaks the
// source's limits, or when an opened one does not fill its output.

#include "filesource.h"

#include <sndfile.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace lumora::vbvis;

namespace {

// A file libsndfile writes into memory.
struct Growing {
    std::vector<std::uint8_t> bytes;
    sf_count_t position = 0;

    static Growing& of(void* user) { return *static_cast<Growing*>(user); }
    static sf_count_t length(void* user) { return static_cast<sf_count_t>(of(user).bytes.size()); }
    static sf_count_t seek(sf_count_t offset, int whence, void* user)
    {
        Growing& g = of(user);
        const sf_count_t base = whence == SEEK_CUR   ? g.position
                                : whence == SEEK_END ? static_cast<sf_count_t>(g.bytes.size())
                                                     : 0;
        if (base + offset < 0)
            return -1;
        g.position = base + offset;
        return g.position;
    }
    static sf_count_t read(void* buffer, sf_count_t count, void* user)
    {
        Growing& g = of(user);
        const sf_count_t n =
            std::max<sf_count_t>(0, std::min<sf_count_t>(count, static_cast<sf_count_t>(g.bytes.size()) - g.position));
        if (n > 0)
            std::memcpy(buffer, g.bytes.data() + g.position, static_cast<std::size_t>(n));
        g.position += n;
        return n;
    }
    static sf_count_t write(const void* buffer, sf_count_t count, void* user)
    {
        Growing& g = of(user);
        const auto end = static_cast<std::size_t>(g.position + count);
        if (g.bytes.size() < end)
            g.bytes.resize(end);
        std::memcpy(g.bytes.data() + g.position, buffer, static_cast<std::size_t>(count));
        g.position += count;
        return count;
    }
    static sf_count_t tell(void* user) { return of(user).position; }
};

std::vector<std::uint8_t> smallFile(int format, int rate, int channels)
{
    SF_VIRTUAL_IO io{Growing::length, Growing::seek, Growing::read, Growing::write, Growing::tell};
    Growing file;
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* sound = sf_open_virtual(&io, SFM_WRITE, &info, &file);
    if (!sound)
        __builtin_trap();
    std::vector<float> frames(static_cast<std::size_t>(300 * channels));
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i] = static_cast<float>(i % 50) / 50.0f - 0.5f;
    sf_writef_float(sound, frames.data(), 300);
    sf_close(sound);
    return file.bytes;
}

const std::array<std::vector<std::uint8_t>, 3>& templates()
{
    static const std::array<std::vector<std::uint8_t>, 3> files{
        smallFile(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2),
        smallFile(SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 22050, 1),
        smallFile(SF_FORMAT_AU | SF_FORMAT_PCM_24, 48000, 3),
    };
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::vector<std::uint8_t> bytes;
    if (const int pick = data[0] % 4; pick != 0) {
        bytes = templates()[static_cast<std::size_t>(pick - 1)];
        for (std::size_t i = 1; i < size; ++i) {
            if (i - 1 < bytes.size())
                bytes[i - 1] ^= data[i];
            else
                bytes.push_back(data[i]);
        }
    } else {
        bytes.assign(data + 1, data + size);
    }

    LoopingSoundFile sound;
    std::string error;
    if (!sound.open(bytes, "input", error))
        return 0;
    // What libsndfile reads in the same bytes: the source took it, so it
    // must be within the source's limits.
    Growing copy{bytes, 0};
    SF_VIRTUAL_IO io{Growing::length, Growing::seek, Growing::read, Growing::write, Growing::tell};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &copy);
    if (!file)
        __builtin_trap();
    sf_close(file);
    if (info.samplerate < kMinFileSampleRate || info.samplerate > kMaxFileSampleRate || info.channels < 1 ||
        info.channels > kMaxFileChannels)
        __builtin_trap();

    // -32768 is never rendered: samples are clamped to +-32767.
    std::array<int16_t, 2 * 441> output;
    for (int chunk = 0; chunk < 10; ++chunk) {
        output.fill(-32768);
        sound.render(output);
        for (int16_t sample : output)
            if (sample == -32768)
                __builtin_trap();
    }
    return 0;
}
