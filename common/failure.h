// SPDX-License-Identifier: GPL-3.0-or-later
// Lumora's error type. Anything that can fail inside a handler throws a
// Failure; the window's single error report catches it, shows its number and
// description, and ends the program.
//
// The numbers are Lumora's own, listed in FailureNumber; a system error
// goes into the detail, as strerror's text.
#pragma once

#include <stdexcept>
#include <string>

namespace lumora {

enum class FailureNumber : int {
    LibraryNotFound = 1001,   // libVbVis10.so could not be loaded
    FunctionNotFound = 1002,  // the library lacks one of its three functions
    Overflow = 1003,          // a value does not fit the 16-bit arithmetic
    InvalidChannel = 1004,    // a channel names a bar that does not exist
    PortNotOpen = 1005,       // the serial port could not be opened
    PortWriteFailed = 1006,   // a write to the serial port failed
    PortGone = 1007,          // the serial device disappeared while in use
    Internal = 1099,          // an unexpected error inside the program
};

class Failure : public std::runtime_error {
public:
    // Detail says what the failure concerns; subject names the thing it
    // concerns, for the report (a port that cannot be opened: its device as
    // the user chose it).
    Failure(FailureNumber number, const std::string& detail, std::string subject = {});

    int number() const { return m_number; }
    // The standard description of the number ("Library not found", ...).
    const std::string& description() const { return m_description; }
    // What the failure concerns (a device, a library, a function), may be empty.
    const std::string& detail() const { return m_detail; }
    const std::string& subject() const { return m_subject; }

private:
    int m_number;
    std::string m_description;
    std::string m_detail;
    std::string m_subject;
};

std::string describe(FailureNumber number);

}  // namespace lumora
