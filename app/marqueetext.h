// SPDX-License-Identifier: GPL-3.0-or-later
// The words on the display's text line: the user's own text, or what is
// playing, as the line can show them.
//
// The line shows printable ASCII only, one byte per character. A text is
// transliterated with ICU ("Any-Latin; Latin-ASCII": é gives e, ß ss,
// “ ” give ", Cyrillic and Greek their Latin spelling); a character left
// without one (an emoji, a symbol) becomes '?'. A text shorter than the
// line's 20 characters is padded with spaces. Plain functions; ICU's
// transliterator is made once, on the first call.
#pragma once

#include <QString>

#include <string>

namespace lumora {

inline constexpr int kLongestText = 1000;  // characters, before transliteration
// The text setting's value that shows what the desktop's media player plays.
inline const QString kNowPlayingText = QStringLiteral("now-playing");

// Whether `text` may stand on the line: 1 to kLongestText characters, none
// of them a control character. False, with `problem` saying why.
bool textUsable(const QString& text, QString& problem);

// `text` as the line shows it: printable ASCII, at least 20 characters.
std::string marqueeText(const QString& text);

}  // namespace lumora
