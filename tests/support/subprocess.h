// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: lumora-display (or a script) as a real child process whose
// standard output the test reads line by line.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace lumora::testing {

class Subprocess {
public:
    // Starts `program` with `arguments`; extra environment as "NAME=value".
    Subprocess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment = {});
    ~Subprocess();  // kills the child if it still runs

    // The next line of standard output, without its newline; nothing on
    // end of output or when `timeout` passes first.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // All remaining lines up to end of output.
    std::vector<std::string> readRest(std::chrono::milliseconds timeout);
    void signal(int number);
    // The exit status, or -1 if the child did not end normally in time.
    int wait(std::chrono::milliseconds timeout);

private:
    int m_pid = -1;
    int m_stdout = -1;
    std::string m_buffer;
    bool m_reaped = false;
};

}  // namespace lumora::testing
