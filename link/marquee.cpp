// SPDX-License-Identifier: GPL-3.0-or-later
#include "marquee.h"

#include "wireformat.h"

#include <algorithm>

namespace lumora {

void rotateLeft(std::string& text)
{
    if (!text.empty())
        std::rotate(text.begin(), text.begin() + 1, text.end());
}

void consumeTick(std::int16_t& scrollFlag, std::string& text)
{
    if (scrollFlag == -1) {
        rotateLeft(text);
        scrollFlag = 0;
    }
}

std::string_view marqueeSlice(const std::string& text)
{
    return std::string_view(text).substr(0, wire::kTextLength);
}

}  // namespace lumora
