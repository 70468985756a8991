// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audiosource.h"

#include <string>
#include <vector>

struct sf_private_tag;

namespace lumora::vbvis {

// Plays a sound file (anything libsndfile reads: WAV, FLAC, Ogg, ...) in
// real time and in a loop, into the ring only, never to the speakers. A mono
// file feeds both channels; beyond two channels the first two are used.
// Another sample rate than 44100 Hz is converted by linear interpolation,
// which is plenty for pictures of the sound.
class FileSource final : public PacedSource {
public:
    FileSource(SampleRing &ring, std::string path);
    ~FileSource() override;
    std::optional<std::string> start() override;

protected:
    void render(std::span<int16_t> interleaved) override;

private:
    // The next frame of the file as left/right in -1..1, looping at its end.
    bool nextFileFrame(float &left, float &right);

    std::string m_path;
    sf_private_tag *m_file = nullptr;
    int m_channels = 0;
    double m_step = 1.0;       // file frames per output frame
    double m_position = 0.0;   // fraction between m_previous and m_current
    float m_previous[2]{};
    float m_current[2]{};
    std::vector<float> m_block;        // frames read from the file, interleaved
    std::size_t m_blockFrames = 0;
    std::size_t m_blockNext = 0;
};

} // namespace lumora::vbvis
