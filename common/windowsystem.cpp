// SPDX-License-Identifier: GPL-3.0-or-later
#include "windowsystem.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace lumora {

namespace {

struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QByteArray file;
    QByteArray function;
    int line;
    QString text;
};

const char* g_program = nullptr;
int g_exitStatus = 1;
QtMessageHandler g_previous = nullptr;
QList<HeldMessage> g_held;

void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        g_held.append({type, context.category, context.file, context.function, context.line, text});
        return;
    }
    // Qt could not start any platform. The plugin's own complaint (such as
    // "could not connect to display :1") says why; the advice to reinstall
    // would only mislead.
    QString why;
    for (const HeldMessage& held : g_held)
        if (held.category == "qt.qpa.xcb" || held.category == "qt.qpa.wayland")
            why = held.text;
    std::fprintf(stderr,
                 "%s: no graphical session can be reached (%s): start it from your desktop, "
                 "or point DISPLAY at a running X server.\n",
                 g_program, why.isEmpty() ? "no window system could be started" : qPrintable(why));
    std::fflush(stderr);
    std::_Exit(g_exitStatus);
}

}  // namespace

bool hasGraphicalSession(const QProcessEnvironment& environment, const QStringList& qtArguments)
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!environment.value(QLatin1String(name)).isEmpty())
            return true;
    for (const QString& argument : qtArguments) {
        const QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1).section('=', 0, 0);
        if (name == QLatin1String("platform"))
            return true;
    }
    return false;
}

void preferQtEventDispatcher()
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

WindowSystemStart::WindowSystemStart(const char* program, int exitStatus)
{
    g_program = program;
    g_exitStatus = exitStatus;
    g_held.clear();
    g_previous = qInstallMessageHandler(onMessage);
}

WindowSystemStart::~WindowSystemStart()
{
    qInstallMessageHandler(g_previous);
    const QList<HeldMessage> held = std::move(g_held);
    g_held.clear();
    for (const HeldMessage& message : held) {
        const QMessageLogContext context(message.file.constData(), message.line, message.function.constData(),
                                         message.category.constData());
        if (g_previous)
            g_previous(message.type, context, message.text);
        else
            qt_message_output(message.type, context, message.text);
    }
}

}  // namespace lumora
