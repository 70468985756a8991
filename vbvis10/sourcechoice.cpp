// SPDX-License-Identifier: GPL-3.0-or-later
#include "sourcechoice.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/stat.h>

namespace lumora::vbvis {

std::optional<SourceChoice> parseSourceChoice(std::string_view text)
{
    using Kind = SourceChoice::Kind;
    if (text.empty() || text == "auto")
        return SourceChoice{Kind::Auto, {}};
    if (text == "pulse")
        return SourceChoice{Kind::Pulse, {}};
    if (text == "demo")
        return SourceChoice{Kind::Demo, {}};
    static constexpr std::array<std::pair<std::string_view, Kind>, 3> kWithArgument{{
        {"pulse:", Kind::Pulse}, {"fifo:", Kind::Fifo}, {"file:", Kind::File}}};
    for (const auto &[prefix, kind] : kWithArgument)
        if (text.starts_with(prefix) && text.size() > prefix.size())
            return SourceChoice{kind, std::string(text.substr(prefix.size()))};
    return std::nullopt;
}

std::optional<std::string> sourceChoiceProblem(const SourceChoice &choice)
{
    if (choice.kind != SourceChoice::Kind::Fifo && choice.kind != SourceChoice::Kind::File)
        return std::nullopt;
    struct stat st {};
    if (::stat(choice.argument.c_str(), &st) != 0)
        return choice.argument + ": " + std::strerror(errno);
    if (choice.kind == SourceChoice::Kind::Fifo && !S_ISFIFO(st.st_mode))
        return choice.argument + " is not a named pipe";
    if (choice.kind == SourceChoice::Kind::File && S_ISDIR(st.st_mode))
        return choice.argument + " is a directory";
    return std::nullopt;
}

} // namespace lumora::vbvis
