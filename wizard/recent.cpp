// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "wizard/recent.h"

#include "controller/conntext.h"
#include "settings/modFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace wizard {

namespace {

// {"recent": [{"conn": "eth:10.0.0.5", "id": "...", "model": "...", "when": "2026-12-10T23:05:00Z"}, ...]}
std::optional<RecentConnection> entryFrom(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    const QJsonValue conn = o.value(QLatin1String("conn")), id = o.value(QLatin1String("id")),
                     model = o.value(QLatin1String("model")), when = o.value(QLatin1String("when"));
    if (!conn.isString() || !id.isString() || !model.isString() || !when.isString())
        return std::nullopt;
    const std::optional<ConnText> t = ParseConnText(conn.toString());
    if (!t || !NotLinkable(*t).isEmpty())
        return std::nullopt;
    RecentConnection c{conn.toString(), id.toString(), model.toString(),
                       QDateTime::fromString(when.toString(), Qt::ISODate)};
    if (!c.when.isValid() || c.id.size() > RecentConnections::kMaxText || c.model.size() > RecentConnections::kMaxText)
        return std::nullopt;
    return c;
}

}  // namespace

RecentConnections::RecentConnections(QString path)
    : m_path(std::move(path))
{ }

QString RecentConnections::defaultPath()
{
    const QString folder = StateFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("recent.json");
}

QList<RecentConnection> RecentConnections::load() const
{
    // A FIFO or a device under the name would block or never end: plain files only.
    const QFileInfo info(m_path);
    if (m_path.isEmpty() || !info.isFile() || info.size() > kMaxFileBytes)
        return {};
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes)
        return {};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {};
    const QJsonValue list = doc.object().value(QLatin1String("recent"));
    if (!list.isArray() || list.toArray().size() > kMax)
        return {};
    QList<RecentConnection> out;
    for (const auto& v : list.toArray()) {
        const std::optional<RecentConnection> c = entryFrom(v);
        if (!c)
            return {};  // one damaged entry: the file is not trusted at all
        out.append(*c);
    }
    return out;
}

bool RecentConnections::add(const RecentConnection& c) const
{
    if (m_path.isEmpty())
        return false;
    QList<RecentConnection> list = load();
    list.removeIf([&](const RecentConnection& e) { return e.conn == c.conn; });
    RecentConnection first = c;
    first.id.truncate(kMaxText);
    first.model.truncate(kMaxText);
    first.when = c.when.toUTC();
    list.prepend(first);
    while (list.size() > kMax)
        list.removeLast();
    QJsonArray array;
    for (const RecentConnection& e : std::as_const(list))
        array.append(QJsonObject{{QStringLiteral("conn"), e.conn},
                                 {QStringLiteral("id"), e.id},
                                 {QStringLiteral("model"), e.model},
                                 {QStringLiteral("when"), e.when.toString(Qt::ISODate)}});
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        if (!QDir().mkpath(folder))
            return false;
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    file.write(QJsonDocument(QJsonObject{{QStringLiteral("recent"), array}}).toJson());
    return file.commit();
}

}  // namespace wizard
