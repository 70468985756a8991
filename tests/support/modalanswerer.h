// SPDX-License-Identifier: GPL-3.0-or-later
// Answers the modal message boxes a test provokes: records what each box
// showed, prints it on stderr (so a death test can match it), and presses OK.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <vector>

namespace lumora::test {

struct ShownBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QList<QAbstractButton*>::size_type buttonCount;
    bool hasOk;
};

class ModalAnswerer : public QObject {
public:
    ModalAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::answer);
        m_timer.start(5);
    }

    const std::vector<ShownBox>& shown() const { return m_shown; }

private:
    void answer()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        m_shown.push_back({box->windowTitle(), box->text(), box->icon(), box->buttons().size(),
                           box->button(QMessageBox::Ok) != nullptr});
        std::fprintf(stderr, "modal box [%s]: %s\n", qPrintable(box->windowTitle()), qPrintable(box->text()));
        if (auto* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }

    QTimer m_timer;
    std::vector<ShownBox> m_shown;
};

}  // namespace lumora::test
