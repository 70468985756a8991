// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminationsignals.h"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace lumora {

namespace {

constexpr std::array<int, 2> kSignals = {SIGINT, SIGTERM};

// Shared with the handler, so lock-free atomics only.
std::atomic<int> g_writeEnd{-1};
std::atomic<int> g_signalsSeen{0};
std::atomic<bool> g_installed{false};
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction g_previous[kSignals.size()];
bool g_handled[kSignals.size()];

void handleSignal(int number)
{
    const int savedErrno = errno;
    if (g_signalsSeen.fetch_add(1) == 0) {
        const char byte = 1;
        // The socket never holds more than this one byte, and a full one
        // would only lose it: MSG_DONTWAIT, whatever happens.
        [[maybe_unused]] const auto sent = ::send(g_writeEnd.load(), &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    } else {
        // The program is already ending the polite way and the user asks
        // again: the default action ends it as soon as this handler
        // returns (the signal stays blocked until then).
        struct sigaction fallback { };
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(number, &fallback, nullptr);
        ::raise(number);
    }
    errno = savedErrno;
}

}  // namespace

TerminationSignals* TerminationSignals::install(std::function<void()> onSignal, QObject* parent)
{
    if (g_installed.exchange(true)) {
        errno = EBUSY;
        return nullptr;
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        const int error = errno;
        g_installed = false;
        errno = error;
        return nullptr;
    }
    return new TerminationSignals(pair[0], pair[1], std::move(onSignal), parent);
}

TerminationSignals::TerminationSignals(int readEnd, int writeEnd, std::function<void()> onSignal, QObject* parent)
    : QObject(parent), m_readEnd(readEnd), m_writeEnd(writeEnd), m_onSignal(std::move(onSignal)),
      m_notifier(new QSocketNotifier(readEnd, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte;
        while (::read(m_readEnd, &byte, 1) > 0) { }
        m_notifier->setEnabled(false);  // the first signal is the only one delivered
        m_onSignal();
    });

    g_signalsSeen = 0;
    g_writeEnd = m_writeEnd;
    struct sigaction action { };
    action.sa_handler = handleSignal;
    sigemptyset(&action.sa_mask);
    for (int number : kSignals)
        sigaddset(&action.sa_mask, number);  // one handler at a time
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], nullptr, &g_previous[i]);
        g_handled[i] = g_previous[i].sa_handler != SIG_IGN;
        if (g_handled[i])
            ::sigaction(kSignals[i], &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals()
{
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        if (g_handled[i])
            ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_writeEnd = -1;
    ::close(m_readEnd);
    ::close(m_writeEnd);
    g_installed = false;
}

}  // namespace lumora
