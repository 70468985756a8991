// SPDX-License-Identifier: GPL-3.0-or-later
// The error report: the one way a failure ends the program.
//
// Any handler runs its body through guarded(); a lumora::Failure (or any
// other exception) thrown inside becomes a line on stderr naming the failure
// by number and description, a modal message saying the same where one can
// be seen, and exit status kExitFailure. Nothing is caught anywhere else.
#pragma once

#include "failure.h"

#include <QString>

#include <exception>
#include <utility>

namespace lumora {

inline constexpr int kExitOk = 0;
inline constexpr int kExitInstallFailed = 1;  // the plug-in could not be installed
inline constexpr int kExitFailure = 2;        // the error report ended the program

// A modal message box titled Lumora: the error report's, and the one that
// shows a wrong argument or setting found at start-up to a user who has no
// terminal to read it on.
void showErrorBox(const QString& message);
// Whether someone can see a box: a window system, and not Qt's offscreen
// or minimal platform, on which a box would wait for ever unseen.
bool errorBoxCanBeSeen();

// The error box's text: the failure's number and description, then what
// to do about it (for a port that cannot be opened, how to choose another).
QString errorReportText(const Failure& failure);
[[noreturn]] void reportFailure(const Failure& failure);

template <typename Handler> void guarded(Handler&& handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (const Failure& failure) {
        reportFailure(failure);
    } catch (const std::exception& error) {
        reportFailure(Failure(FailureNumber::Internal, error.what()));
    }
}

}  // namespace lumora
