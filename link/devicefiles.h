// SPDX-License-Identifier: GPL-3.0-or-later
// Small facts about device files that the serial line and the port list
// both need.
#pragma once

#include <QFileInfo>
#include <QString>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace lumora {

// Whether a stat() result is a Unix98 pseudo-terminal slave (/dev/pts/N,
// major numbers 136..143).
inline bool isPtySlave(const struct stat& st)
{
    constexpr unsigned kPtySlaveMajorFirst = 136;
    constexpr unsigned kPtySlaveMajorLast = 143;
    const unsigned m = major(st.st_rdev);
    return S_ISCHR(st.st_mode) && m >= kPtySlaveMajorFirst && m <= kPtySlaveMajorLast;
}

// The device behind any symbolic link, or the path itself where it does not
// resolve, so that every name of a device compares equal.
inline QString canonicalDevice(const QString& path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

}  // namespace lumora
