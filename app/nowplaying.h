// SPDX-License-Identifier: GPL-3.0-or-later
// What the desktop's media player plays, for the display's text line:
// "Artist - Title ... " of the player that plays, read over MPRIS on the
// session bus; of several that play, the one that began playing last. When
// none plays (or none is there, or the bus is not), the fallback text.
//
// Every call on the bus is asynchronous, with a timeout: a player that
// hangs, vanishes or sends metadata of the wrong shape costs a run nothing;
// it merely stops counting. Lives on the window thread; the bus's answers
// and signals come in through the event loop, which a run services in its
// yields.
#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <map>
#include <string>

namespace lumora {

class NowPlaying : public QObject {
    Q_OBJECT
public:
    // fallback: the text to show when no player plays, as the line shows
    // it (marqueeText()).
    explicit NowPlaying(std::string fallback, QObject* parent = nullptr);

    // Starts watching the session bus; false when there is none, and the
    // text is the fallback for good.
    bool start();

    // What the line shows now, as marqueeText() makes it.
    const std::string& text() const { return m_text; }
    // Counts the changes of text(): a run takes a new text when it moves.
    std::uint64_t changes() const { return m_changes; }

private slots:
    void nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void propertiesChanged(const QDBusMessage& message);

private:
    struct Player {
        bool playing = false;
        std::uint64_t playingSince = 0;  // m_clock when it began playing
        QString title;                   // "Artist - Title", empty when unknown
    };

    void ask(const QString& service);
    void take(const QString& owner, const QVariantMap& properties);
    void choose();

    std::map<QString, Player> m_players;  // by the bus's unique name of the player
    std::uint64_t m_clock = 0;            // orders the beginnings of playing
    std::string m_fallback;
    std::string m_text;
    std::uint64_t m_changes = 0;
};

}  // namespace lumora
