// SPDX-License-Identifier: GPL-3.0-or-later
// The error report: the one way a failure ends the program.
//
// Any handler runs its body through guarded(); a lumora::Failure (or any
// other exception) thrown inside becomes a modal message naming the failure
// by number and description, the same line on stderr, and exit status
// kExitFailure. Nothing is caught anywhere else.
#pragma once

#include "failure.h"

#include <QString>

#include <exception>
#include <utility>

namespace lumora {

inline constexpr int kExitOk = 0;
inline constexpr int kExitInstallFailed = 1;  // the plug-in could not be installed
inline constexpr int kExitFailure = 2;        // the error report ended the program

// The message text: "Run-time error '1001':\n\nLibrary not found: ...",
// then for a port that cannot be opened how to choose another.
QString errorReportText(const Failure& failure);
// What the report adds to the failure's own text, empty for most failures.
QString errorAdvice(const Failure& failure);

// A wrong argument or setting found at start-up, in a modal message box
// for a user who has no terminal to read it on.
void showStartUpError(const QString& message);

[[noreturn]] void reportFailure(const Failure& failure);

template <typename Handler>
void guarded(Handler&& handler)
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
