// SPDX-License-Identifier: GPL-3.0-or-later
#include "errorreport.h"

#include "serialports.h"
#include "usage.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace lumora {

namespace {

// What the report adds to the failure's own text: what to do about it.
QString errorAdvice(const Failure& failure)
{
    switch (static_cast<FailureNumber>(failure.number())) {
    case FailureNumber::LibraryNotFound:
        return QStringLiteral("libVbVis10.so comes with Lumora: install Lumora again, or set LD_LIBRARY_PATH to "
                              "the folder that holds it.");
    case FailureNumber::FunctionNotFound:
        return QStringLiteral("The libVbVis10.so found first is not Lumora's: remove its folder from "
                              "LD_LIBRARY_PATH, or install Lumora again.");
    case FailureNumber::PortNotOpen: {
        const QString chosen = QString::fromStdString(failure.subject());
        return QStringLiteral("Serial ports on this computer:\n%1\n\n%2")
            .arg(describeSerialPorts(findSerialPorts(chosen), chosen),
                 portChoiceHint(QProcessEnvironment::systemEnvironment()));
    }
    case FailureNumber::PortWriteFailed:
        return QStringLiteral("Check that the display is switched on and connected (or that lumora-display is "
                              "still running), then start Lumora again.");
    case FailureNumber::PortGone:
        return QStringLiteral("Connect the display again (or start lumora-display again), then start Lumora "
                              "again; lumora --list-ports shows the ports there are.");
    case FailureNumber::Overflow:
    case FailureNumber::InvalidChannel:
    case FailureNumber::Internal:
        return QStringLiteral("This is a fault in Lumora itself: please report it, with this message.");
    }
    return {};
}

}  // namespace

bool errorBoxCanBeSeen()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && !platform.startsWith(QLatin1String("minimal"));
}

void showErrorBox(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Lumora"), message, QMessageBox::Ok);
    box.exec();
}

QString errorReportText(const Failure& failure)
{
    // "Run-time error '1001':\n\nLibrary not found: ...", then the advice.
    QString text =
        QStringLiteral("Run-time error '%1':\n\n%2").arg(failure.number()).arg(QString::fromStdString(failure.what()));
    const QString advice = errorAdvice(failure);
    if (!advice.isEmpty())
        text += QStringLiteral("\n\n") + advice;
    return text;
}

void reportFailure(const Failure& failure)
{
    const QString advice = errorAdvice(failure);
    std::fprintf(stderr, "lumora: run-time error %d: %s\n", failure.number(), failure.what());
    if (!advice.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(advice));
    std::fflush(stderr);
    // Where nobody could see the box it would wait for ever: the line on
    // stderr is then the whole report.
    if (errorBoxCanBeSeen())
        showErrorBox(errorReportText(failure));
    std::fflush(stdout);
    // Straight out: the failure may have struck deep inside a running cycle,
    // and nothing of the window's state is worth unwinding.
    std::_Exit(kExitFailure);
}

}  // namespace lumora
