// SPDX-License-Identifier: GPL-3.0-or-later
#include "pseudoterminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace lumora {

std::string describeErrno(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

namespace {

bool makeLink(const std::string& target, const std::string& linkPath, std::string& error)
{
    struct stat info { };
    if (::lstat(linkPath.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        error = linkPath + " exists and is not a symbolic link";
        return false;
    }
    const std::string temporary = linkPath + ".tmp" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        error = describeErrno("symlink " + linkPath);
        return false;
    }
    if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        error = describeErrno("rename to " + linkPath);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<PseudoTerminal> PseudoTerminal::open(int masterFlags, const std::string& linkPath, std::string& error)
{
    std::unique_ptr<PseudoTerminal> pty(new PseudoTerminal);
    pty->m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | masterFlags);
    if (pty->m_master < 0) {
        error = describeErrno("posix_openpt");
        return nullptr;
    }
    if (::grantpt(pty->m_master) != 0 || ::unlockpt(pty->m_master) != 0) {
        error = describeErrno("grantpt/unlockpt");
        return nullptr;
    }
    char name[256];
    if (::ptsname_r(pty->m_master, name, sizeof name) != 0) {
        error = describeErrno("ptsname_r");
        return nullptr;
    }
    pty->m_slavePath = name;
    pty->m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->m_slave < 0) {
        error = describeErrno("open " + pty->m_slavePath);
        return nullptr;
    }
    termios settings{};
    if (::tcgetattr(pty->m_slave, &settings) != 0) {
        error = describeErrno("tcgetattr");
        return nullptr;
    }
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B57600);
    if (::tcsetattr(pty->m_slave, TCSANOW, &settings) != 0) {
        error = describeErrno("tcsetattr");
        return nullptr;
    }
    if (!linkPath.empty()) {
        if (!makeLink(pty->m_slavePath, linkPath, error))
            return nullptr;
        pty->m_linkPath = linkPath;
    }
    return pty;
}

PseudoTerminal::~PseudoTerminal()
{
    if (!m_linkPath.empty()) {
        char target[256];
        const ssize_t length = ::readlink(m_linkPath.c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == m_slavePath)
            ::unlink(m_linkPath.c_str());
    }
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

}  // namespace lumora
