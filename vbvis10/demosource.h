// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audiosource.h"
#include "demosignal.h"

namespace lumora::vbvis {

// Plays the built-in DemoSignal in real time on its own thread; never fails.
class DemoSource final : public PacedSource {
public:
    explicit DemoSource(SampleRing& ring) : PacedSource(ring) { }
    ~DemoSource() override { stopPacing(); }
    bool start(std::string&) override
    {
        startPacing();
        return true;
    }

protected:
    void render(std::span<int16_t> interleaved) override { m_signal.render(interleaved); }

private:
    DemoSignal m_signal;
};

}  // namespace lumora::vbvis
