// SPDX-License-Identifier: GPL-3.0-or-later
#include "errorreport.h"

#include "settings.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace lumora {

QString errorAdvice(const Failure& failure)
{
    if (failure.number() == static_cast<int>(FailureNumber::PortNotOpen))
        return portChoiceHint(QProcessEnvironment::systemEnvironment());
    return {};
}

QString errorReportText(const Failure& failure)
{
    QString text = QStringLiteral("Run-time error '%1':\n\n%2").arg(failure.number()).arg(QString::fromStdString(failure.what()));
    if (const QString advice = errorAdvice(failure); !advice.isEmpty())
        text += QStringLiteral("\n\n") + advice;
    return text;
}

void showStartUpError(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Lumora"), message, QMessageBox::Ok);
    box.exec();
}

void reportFailure(const Failure& failure)
{
    std::fprintf(stderr, "lumora: run-time error %d: %s\n", failure.number(), failure.what());
    if (const QString advice = errorAdvice(failure); !advice.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(advice));
    std::fflush(stderr);
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Lumora"), errorReportText(failure),
                        QMessageBox::Ok);
        box.exec();
    }
    std::fflush(stdout);
    // Straight out: the failure may have struck deep inside a running cycle,
    // and nothing of the window's state is worth unwinding.
    std::_Exit(kExitFailure);
}

}  // namespace lumora
