// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: a fresh folder under the system's temporary one, removed
// with everything in it when the object goes.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include <stdlib.h>

namespace lumora::testing {

class TemporaryDirectory {
public:
    explicit TemporaryDirectory(const std::string& prefix = "lumora-test")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        m_path = ::mkdtemp(pattern.data());
    }
    // A destructor must not throw: a file that a program still ending
    // takes away under remove_all() is no failure.
    ~TemporaryDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

}  // namespace lumora::testing
