// SPDX-License-Identifier: GPL-3.0-or-later
#include "errorreport.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace lumora {

QString errorReportText(const Failure& failure)
{
    return QStringLiteral("Run-time error '%1':\n\n%2").arg(failure.number()).arg(QString::fromStdString(failure.what()));
}

void reportFailure(const Failure& failure)
{
    std::fprintf(stderr, "lumora: run-time error %d: %s\n", failure.number(), failure.what());
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
