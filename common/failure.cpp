// SPDX-License-Identifier: GPL-3.0-or-later
#include "failure.h"

namespace lumora {

std::string describe(FailureNumber number)
{
    switch (number) {
    case FailureNumber::LibraryNotFound: return "Library not found";
    case FailureNumber::FunctionNotFound: return "Function not found in library";
    case FailureNumber::Overflow: return "Overflow";
    case FailureNumber::InvalidChannel: return "Invalid channel";
    case FailureNumber::PortNotOpen: return "Serial port cannot be opened";
    case FailureNumber::PortWriteFailed: return "Write to serial port failed";
    case FailureNumber::PortGone: return "Serial device disappeared";
    case FailureNumber::Internal: return "Internal error";
    }
    return "Unknown failure";
}

namespace {

std::string compose(const std::string& description, const std::string& detail)
{
    return detail.empty() ? description : description + ": " + detail;
}

}  // namespace

Failure::Failure(FailureNumber number, const std::string& detail, std::string subject)
    : std::runtime_error(compose(describe(number), detail)), m_number(static_cast<int>(number)),
      m_description(describe(number)), m_detail(detail), m_subject(std::move(subject))
{
}

}  // namespace lumora
