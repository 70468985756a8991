// SPDX-License-Identifier: GPL-3.0-or-later
#include "nowplaying.h"

#include "marqueetext.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>

#include <algorithm>

namespace lumora {

namespace {

const QString kPlayerPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kPlayerPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
// How long a player may take to answer before it does not count.
constexpr int kAnswerTimeoutMs = 2000;
// What follows "Artist - Title" before the text starts again.
const QString kSeparator = QStringLiteral(" ... ");

// A{sv} in whatever wrapping the bus delivered it; false for anything else.
bool asMap(const QVariant& value, QVariantMap& map)
{
    if (value.metaType() == QMetaType::fromType<QVariantMap>()) {
        map = value.toMap();
        return true;
    }
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return false;
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a{sv}"))
        return false;
    argument >> map;
    return true;
}

// "Artist - Title" from MPRIS metadata; empty when it holds no title.
QString titleOf(const QVariantMap& metadata)
{
    const QVariant title = metadata.value(QStringLiteral("xesam:title"));
    if (title.metaType() != QMetaType::fromType<QString>() || title.toString().trimmed().isEmpty())
        return {};
    const QVariant artist = metadata.value(QStringLiteral("xesam:artist"));
    QString artists;
    if (artist.metaType() == QMetaType::fromType<QStringList>())
        artists = artist.toStringList().join(QStringLiteral(", "));
    else if (artist.metaType() == QMetaType::fromType<QString>())
        artists = artist.toString();
    artists = artists.trimmed();
    return artists.isEmpty() ? title.toString().trimmed()
                             : artists + QStringLiteral(" - ") + title.toString().trimmed();
}

}  // namespace

NowPlaying::NowPlaying(std::string fallback, QObject* parent)
    : QObject(parent), m_fallback(std::move(fallback)), m_text(m_fallback)
{
}

bool NowPlaying::start()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    bus.connect(kBusService, kBusPath, kBusService, QStringLiteral("NameOwnerChanged"), this,
                SLOT(nameOwnerChanged(QString, QString, QString)));
    bus.connect(QString(), kPlayerPath, kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                SLOT(propertiesChanged(QDBusMessage)));
    const QDBusMessage list =
        QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, QStringLiteral("ListNames"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(list, kAnswerTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QStringList> names = *call;
        if (names.isError())
            return;
        for (const QString& name : names.value()) {
            if (name.startsWith(kPlayerPrefix))
                ask(name);
        }
    });
    return true;
}

// Asks a player for its state; the answer comes from its unique name.
void NowPlaying::ask(const QString& service)
{
    QDBusMessage getAll =
        QDBusMessage::createMethodCall(service, kPlayerPath, kPropertiesInterface, QStringLiteral("GetAll"));
    getAll << kPlayerInterface;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(getAll, kAnswerTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusMessage reply = call->reply();
        QVariantMap properties;
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1 ||
            !asMap(reply.arguments().front(), properties))
            return;
        m_players.try_emplace(reply.service());
        take(reply.service(), properties);
    });
}

void NowPlaying::take(const QString& owner, const QVariantMap& properties)
{
    const auto found = m_players.find(owner);
    if (found == m_players.end())
        return;
    Player& player = found->second;
    if (properties.contains(QStringLiteral("PlaybackStatus"))) {
        const bool playing = properties.value(QStringLiteral("PlaybackStatus")).toString() == QLatin1String("Playing");
        if (playing && !player.playing)
            player.playingSince = ++m_clock;
        player.playing = playing;
    }
    if (properties.contains(QStringLiteral("Metadata"))) {
        QVariantMap metadata;
        player.title = asMap(properties.value(QStringLiteral("Metadata")), metadata) ? titleOf(metadata) : QString();
    }
    choose();
}

void NowPlaying::propertiesChanged(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    QVariantMap changed;
    if (arguments.size() < 2 || arguments[0].toString() != kPlayerInterface || !asMap(arguments[1], changed))
        return;
    if (m_players.count(message.service()) == 0)
        return;  // not a player we know of: one that appeared is asked when it does
    take(message.service(), changed);
    if (arguments.size() > 2 && !qdbus_cast<QStringList>(arguments[2]).isEmpty())
        ask(message.service());  // properties it only said had changed
}

void NowPlaying::nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner)
{
    if (name.startsWith(kPlayerPrefix)) {
        if (!oldOwner.isEmpty())
            m_players.erase(oldOwner);
        if (!newOwner.isEmpty())
            ask(name);
    } else if (name.startsWith(QLatin1Char(':')) && newOwner.isEmpty()) {
        m_players.erase(name);  // a connection closed: whatever player it was is gone
    }
    choose();
}

void NowPlaying::choose()
{
    const Player* chosen = nullptr;
    for (const auto& [owner, player] : m_players) {
        if (player.playing && !player.title.isEmpty() && (!chosen || player.playingSince > chosen->playingSince))
            chosen = &player;
    }
    const std::string text = chosen ? marqueeText(chosen->title + kSeparator) : m_fallback;
    if (text != m_text) {
        m_text = text;
        ++m_changes;
    }
}

}  // namespace lumora
