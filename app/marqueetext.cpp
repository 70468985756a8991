// SPDX-License-Identifier: GPL-3.0-or-later
#include "marqueetext.h"

#include "cycleformat.h"

#include <QList>

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <memory>

namespace lumora {

namespace {

// Null when ICU has no such transliterator (its data missing): then every
// character outside ASCII becomes '?'.
const icu::Transliterator* toAscii()
{
    static const std::unique_ptr<icu::Transliterator> transliterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> made(
            icu::Transliterator::createInstance("Any-Latin; Latin-ASCII", UTRANS_FORWARD, status));
        return U_SUCCESS(status) ? std::move(made) : nullptr;
    }();
    return transliterator.get();
}

}  // namespace

bool textUsable(const QString& text, QString& problem)
{
    const auto characters = text.toUcs4();
    if (characters.isEmpty()) {
        problem = QStringLiteral("an empty text");
        return false;
    }
    if (characters.size() > kLongestText) {
        problem = QStringLiteral("%1 characters, more than %2").arg(characters.size()).arg(kLongestText);
        return false;
    }
    for (const uint c : characters) {
        if (QChar::category(c) == QChar::Other_Control) {
            problem = QStringLiteral("a control character (U+%1)").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'));
            return false;
        }
    }
    return true;
}

std::string marqueeText(const QString& text)
{
    icu::UnicodeString unicode(reinterpret_cast<const UChar*>(text.utf16()), static_cast<int32_t>(text.size()));
    if (const icu::Transliterator* transliterator = toAscii())
        transliterator->transliterate(unicode);
    std::string line;
    for (int32_t i = 0; i < unicode.length(); i = unicode.moveIndex32(i, 1)) {
        const UChar32 c = unicode.char32At(i);
        line += c >= wire::kFirstTextByte && c <= wire::kLastTextByte ? static_cast<char>(c) : '?';
    }
    if (line.size() < static_cast<std::size_t>(wire::kTextLength))
        line.resize(static_cast<std::size_t>(wire::kTextLength), wire::kBlankChar);
    return line;
}

}  // namespace lumora
