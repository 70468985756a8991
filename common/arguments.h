// SPDX-License-Identifier: GPL-3.0-or-later
// What the hand-written option loops of lumora-display and lumora-sim
// share: the arguments one at a time, an option's value after it, and
// numbers read whole.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

class Arguments {
public:
    explicit Arguments(const std::vector<std::string>& arguments) : m_arguments(arguments) { }

    // The next argument; nullptr after the last.
    const std::string* next() { return m_next < m_arguments.size() ? &m_arguments[m_next++] : nullptr; }

    // The value that follows `option`. Without one (or an empty one where
    // `nonEmpty`): nullopt, and `error` says so.
    std::optional<std::string> value(const std::string& option, std::string& error, bool nonEmpty = false)
    {
        if (m_next >= m_arguments.size()) {
            error = option + " needs a value";
            return std::nullopt;
        }
        const std::string& text = m_arguments[m_next++];
        if (nonEmpty && text.empty()) {
            error = option + " needs a non-empty value";
            return std::nullopt;
        }
        return text;
    }

private:
    const std::vector<std::string>& m_arguments;
    std::size_t m_next = 0;
};

// Whether all of `text` is a number of at least `minimum`, into `value`.
template <typename Number> bool parseNumber(std::string_view text, Number minimum, Number& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size() && value >= minimum;
}

}  // namespace lumora
