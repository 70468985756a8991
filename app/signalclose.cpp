// SPDX-License-Identifier: GPL-3.0-or-later
#include "signalclose.h"

#include "frmmain.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace lumora {

namespace {

int g_signalPair[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(g_signalPair[1], &byte, 1);
}

}  // namespace

bool closeOnSignals(FrmMain& window)
{
    if (g_signalPair[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPair) != 0)
        return false;
    auto* notifier = new QSocketNotifier(g_signalPair[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte;
        [[maybe_unused]] auto got = ::read(g_signalPair[0], &byte, 1);
        window.requestClose();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return true;
}

}  // namespace lumora
