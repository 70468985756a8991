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
    static constexpr std::array<std::pair<std::string_view, Kind>, 3> kWithArgument{
        {{"pulse:", Kind::Pulse}, {"fifo:", Kind::Fifo}, {"file:", Kind::File}}};
    for (const auto& [prefix, kind] : kWithArgument)
        if (text.starts_with(prefix) && text.size() > prefix.size())
            return SourceChoice{kind, std::string(text.substr(prefix.size()))};
    return std::nullopt;
}

bool sourceChoiceUsable(const SourceChoice& choice, std::string& problem)
{
    if (choice.kind != SourceChoice::Kind::Fifo && choice.kind != SourceChoice::Kind::File)
        return true;
    struct stat st { };
    if (::stat(choice.argument.c_str(), &st) != 0)
        problem = choice.argument + ": " + std::strerror(errno);
    else if (choice.kind == SourceChoice::Kind::Fifo && !S_ISFIFO(st.st_mode))
        problem = choice.argument + " is not a named pipe";
    else if (choice.kind == SourceChoice::Kind::File && S_ISDIR(st.st_mode))
        problem = choice.argument + " is a directory";
    else
        return true;
    return false;
}

std::optional<SensitivityMode> parseSensitivityMode(std::string_view text)
{
    if (text.empty() || text == "auto")
        return SensitivityMode::Automatic;
    if (text == "fixed")
        return SensitivityMode::Fixed;
    return std::nullopt;
}

}  // namespace lumora::vbvis
