// SPDX-License-Identifier: GPL-3.0-or-later
// The exported C functions: each catches everything, so no exception ever
// reaches the program, and answers zeros when something inside fails.
#include "vbvis10.h"

#include "capture.h"

#include <cstdlib>
#include <iostream>

namespace {

// Made on the first call of any function, stopped at process exit.
lumora::vbvis::Capture& capture()
{
    static lumora::vbvis::Capture instance;
    return instance;
}

}  // namespace

extern "C" {

int16_t vbvis_install_plugin(void)
{
    try {
        return capture().install(std::getenv("LUMORA_SOURCE"), std::cerr, std::getenv("LUMORA_SENSITIVITY")) ? 1 : 0;
    } catch (const std::exception& e) {
        std::cerr << "libVbVis10: cannot attach: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "libVbVis10: cannot attach\n";
    }
    return 0;
}

int16_t vbvis_vu(int32_t channel)
{
    try {
        return capture().vu(channel);
    } catch (...) {
        return 0;
    }
}

int16_t vbvis_spectrum(int32_t channel, char* buffer, int32_t length)
{
    try {
        return capture().spectrum(channel, buffer, length);
    } catch (...) {
        return static_cast<int16_t>(lumora::vbvis::kSpectrumValues);
    }
}

}  // extern "C"
