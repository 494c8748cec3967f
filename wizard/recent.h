// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The connections this PC used recently: the last ten that read a controller, newest
// first, kept in a small file of the state folder (recent.json) for the wizard's Find
// dialog. The file is written whole and atomically; one that is damaged, too large or
// not a plain file is ignored, and the next connection writes a sound one in its place.

#include <QDateTime>
#include <QList>
#include <QString>

namespace wizard {

struct RecentConnection {
    QString conn;       // the connection text, as the first page makes it
    QString id, model;  // as the controller named itself
    QDateTime when;     // UTC
    bool operator==(const RecentConnection&) const = default;
};

class RecentConnections {
public:
    static constexpr int kMax = 10;
    // A file of ten entries takes under 2 KiB; anything beyond this is no file of ours.
    static constexpr qint64 kMaxFileBytes = 64 * 1024;
    // The longest id or model kept; a controller's longer text is cut.
    static constexpr int kMaxText = 256;

    explicit RecentConnections(QString path = defaultPath());
    static QString defaultPath();  // StateFolder() + "recent.json"
    QString path() const { return m_path; }

    // Newest first, at most kMax; none when the file is missing or damaged.
    QList<RecentConnection> load() const;
    // Puts c first (an entry of the same connection goes), keeps kMax, writes the file
    // (its folder made, the user's only). False when it could not be written.
    bool add(const RecentConnection& c) const;

private:
    QString m_path;
};

}  // namespace wizard
