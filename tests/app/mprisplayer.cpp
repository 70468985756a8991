// SPDX-License-Identifier: GPL-3.0-or-later
// A media player for the tests, as small as MPRIS allows: it owns
// org.mpris.MediaPlayer2.<name> on the session bus and answers for
// /org/mpris/MediaPlayer2 the Properties of org.mpris.MediaPlayer2.Player
// (PlaybackStatus, Metadata), announcing every change. Commands, one per
// line on standard input:
//   play ARTIST|TITLE    playing this track        stop    stopped
//   broken               Metadata of the wrong type (a string)
//   quit                 leaves the bus at once
// It prints "ready" once it owns its name, and "ok" after each command.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QStringList>

#include <cstdio>
#include <iostream>
#include <string>

#include <unistd.h>

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

class Player : public QDBusVirtualObject {
public:
    QVariantMap properties;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != kProperties || message.member() != QLatin1String("GetAll"))
            return false;
        connection.send(message.createReply(QVariant::fromValue(properties)));
        return true;
    }
    void announce(const QVariantMap& changed)
    {
        properties.insert(changed);
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kProperties, QStringLiteral("PropertiesChanged"));
        signal << kPlayer << QVariant::fromValue(changed) << QStringList();
        QDBusConnection::sessionBus().send(signal);
    }
};

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    Player player;
    player.properties = {{QStringLiteral("PlaybackStatus"), QStringLiteral("Stopped")},
                         {QStringLiteral("Metadata"), QVariant::fromValue(QVariantMap())}};
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(kPath, &player) ||
        !bus.registerService(QStringLiteral("org.mpris.MediaPlayer2.") + QString::fromLocal8Bit(argv[1])))
        return 1;
    std::puts("ready");
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line) || line == "quit")
            std::_Exit(0);
        const QString command = QString::fromStdString(line);
        if (command.startsWith(QLatin1String("play "))) {
            const QStringList track = command.mid(5).split(QLatin1Char('|'));
            const QVariantMap metadata = {{QStringLiteral("xesam:artist"), QStringList{track.value(0)}},
                                          {QStringLiteral("xesam:title"), track.value(1)}};
            player.announce({{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")},
                             {QStringLiteral("Metadata"), QVariant::fromValue(metadata)}});
        } else if (command == QLatin1String("stop")) {
            player.announce({{QStringLiteral("PlaybackStatus"), QStringLiteral("Stopped")}});
        } else if (command == QLatin1String("broken")) {
            player.announce({{QStringLiteral("Metadata"), QStringLiteral("not a map")}});
        }
        std::puts("ok");
        std::fflush(stdout);
    });
    return app.exec();
}
