// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audiosource.h"

#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct sf_private_tag;

namespace lumora::vbvis {

struct MemoryFile;

// The sample rates and channel counts a sound file may have. Outside them a
// file is refused: a rate of millions of Hz would make every output frame
// read thousands of file frames, and nobody records music on hundreds of
// channels.
inline constexpr int kMinFileSampleRate = 1000;
inline constexpr int kMaxFileSampleRate = 768000;
inline constexpr int kMaxFileChannels = 64;

// A sound file (anything libsndfile reads: WAV, FLAC, Ogg, ...) decoded in
// a loop into 44100 Hz stereo. A mono file feeds both channels; beyond two
// channels the first two are used. Another sample rate is converted by
// linear interpolation, which is plenty for pictures of the sound.
//
// When a read fails even right after rewinding to the start (the file was
// truncated while playing, or its sound cannot be decoded), the file is
// finished: from then on it gives silence and never touches the file again.
// A file that fits in one block is looped in memory. No thread of its own.
class LoopingSoundFile {
public:
    LoopingSoundFile();
    LoopingSoundFile(const LoopingSoundFile&) = delete;
    LoopingSoundFile& operator=(const LoopingSoundFile&) = delete;
    ~LoopingSoundFile();

    // Opens the file at path, or the bytes in memory (which must outlive
    // this object) under the given name. True: ready to render. Otherwise
    // `error` is one line: "cannot play NAME: why".
    bool open(const std::string& path, std::string& error);
    bool open(std::span<const std::uint8_t> bytes, const std::string& name, std::string& error);

    // Fills interleaved left/right frames (size is twice the frame count).
    void render(std::span<int16_t> interleaved);
    // Whether the file gave out for good (see above); only silence follows.
    bool finished() const { return m_finished; }

private:
    // Checks what sf_open*() gave and primes the interpolation.
    bool prepare(sf_private_tag* file, int sampleRate, int channels, std::int64_t frames, const std::string& name,
                 std::string& error);
    // The next frame of the file as left/right in -1..1, looping at its end;
    // false (and silence) once the file is finished.
    bool nextFileFrame(float& left, float& right);

    sf_private_tag* m_file = nullptr;
    std::unique_ptr<MemoryFile> m_memory;  // what open(bytes) reads
    int m_channels = 0;
    double m_step = 1.0;      // file frames per output frame
    double m_position = 0.0;  // fraction between m_previous and m_current
    float m_previous[2]{};
    float m_current[2]{};
    std::vector<float> m_block;  // frames read from the file, interleaved
    std::size_t m_blockFrames = 0;
    std::size_t m_blockNext = 0;
    bool m_wholeFileInBlock = false;
    bool m_finished = false;
};

// Plays a sound file in real time and in a loop, into the ring only, never
// to the speakers. Unlike the other sources it says one thing after its
// start: when the file gives out (see LoopingSoundFile), one
// "libVbVis10: ..." line on `log`, written on the source's thread.
class FileSource final : public PacedSource {
public:
    FileSource(SampleRing& ring, std::string path, std::ostream& log = std::cerr);
    ~FileSource() override;
    bool start(std::string& error) override;

protected:
    void render(std::span<int16_t> interleaved) override;

private:
    std::string m_path;
    std::ostream& m_log;
    LoopingSoundFile m_sound;
    bool m_reported = false;
};

}  // namespace lumora::vbvis
