// SPDX-License-Identifier: GPL-3.0-or-later
#include "signalclose.h"

#include "frmmain.h"
#include "terminationsignals.h"

namespace lumora {

bool closeOnSignals(FrmMain& window)
{
    return TerminationSignals::install([&window] { window.requestClose(); }, &window) != nullptr;
}

}  // namespace lumora
