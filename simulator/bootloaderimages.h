// SPDX-License-Identifier: GPL-3.0-or-later
// The bootloader images Uno and Nano boards carry, as Intel HEX text
// (simulator/bootloaders/, with their licence in its README): built into
// lumora-sim, which runs them in front of the firmware.
#pragma once

#include "avrboard.h"

#include <string_view>

namespace lumora::sim {

// Empty for Bootloader::None.
std::string_view bootloaderImage(Bootloader bootloader);

}  // namespace lumora::sim
