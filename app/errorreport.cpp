// SPDX-License-Identifier: GPL-3.0-or-later
#include "errorreport.h"

#include "usage.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace lumora {

namespace {

// What the report adds to the failure's own text, empty for most failures:
// for a port that cannot be opened, how to choose another.
QString errorAdvice(const Failure& failure)
{
    if (failure.number() == static_cast<int>(FailureNumber::PortNotOpen))
        return portChoiceHint(QProcessEnvironment::systemEnvironment());
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

void reportFailure(const Failure& failure)
{
    const QString advice = errorAdvice(failure);
    std::fprintf(stderr, "lumora: run-time error %d: %s\n", failure.number(), failure.what());
    if (!advice.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(advice));
    std::fflush(stderr);
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // "Run-time error '1001':\n\nLibrary not found: ...", then the advice.
        QString text = QStringLiteral("Run-time error '%1':\n\n%2")
                           .arg(failure.number())
                           .arg(QString::fromStdString(failure.what()));
        if (!advice.isEmpty())
            text += QStringLiteral("\n\n") + advice;
        showErrorBox(text);
    }
    std::fflush(stdout);
    // Straight out: the failure may have struck deep inside a running cycle,
    // and nothing of the window's state is worth unwinding.
    std::_Exit(kExitFailure);
}

}  // namespace lumora
