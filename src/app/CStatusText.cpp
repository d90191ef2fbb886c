#include "CStatusText.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace {
QString StateText(const QString& state) {
    if (state == QLatin1String("waiting"))
        return QStringLiteral("waiting for an answer");
    if (state == QLatin1String("held"))
        return QStringLiteral("held, the link is in use");
    return state;
}

// The countdown as "m:ss", or a dash when no probe is due.
QString Countdown(const QJsonObject& status) {
    const int next = status.value(QLatin1String("next")).toInt(-1);
    return next < 0
               ? QStringLiteral("-")
               : QStringLiteral("%1:%2").arg(next / 60).arg(next % 60, 2, 10, QLatin1Char('0'));
}

QString LastProbe(const QJsonObject& status) {
    if (!status.contains(QLatin1String("last")))
        return QStringLiteral("none yet");
    QString text = QStringLiteral("%1, %2 at %3")
                       .arg(status.value(QLatin1String("last")).toString(),
                            status.value(QLatin1String("lastName")).toString(),
                            status.value(QLatin1String("lastAt")).toString());
    const int ms = status.value(QLatin1String("lastMs")).toInt(-1);
    if (ms >= 0)
        text += QStringLiteral(", first byte after %1 ms").arg(ms);
    return text;
}

QString Class(const QJsonObject& status) {
    const QString state = status.value(QLatin1String("state")).toString();
    if (state == QLatin1String("stopped"))
        return state;
    if (status.value(QLatin1String("down")).toBool())
        return QStringLiteral("down");
    return state == QLatin1String("held") ? state : QStringLiteral("running");
}

int Count(const QJsonObject& status, const char* name) {
    return status.value(QLatin1String(name)).toInt();
}
} // namespace

QByteArray CStatusText::Text(const QJsonObject& status) {
    QString text =
        QStringLiteral("State: %1\nNext probe in: %2\nName: %3\nLast probe: %4\n")
            .arg(StateText(status.value(QLatin1String("state")).toString()), Countdown(status),
                 status.value(QLatin1String("name")).toString(), LastProbe(status));
    if (status.value(QLatin1String("down")).toBool())
        text += QStringLiteral("Link: down, failed probes in a row: %1\n")
                    .arg(Count(status, "failedInRow"));
    text += QStringLiteral("Successes: %1, HTTP failures: %2, DNS failures: %3, Socket failures: "
                           "%4\n")
                .arg(Count(status, "successes"))
                .arg(Count(status, "httpFailures"))
                .arg(Count(status, "dnsFailures"))
                .arg(Count(status, "socketFailures"));
    return text.toUtf8();
}

QByteArray CStatusText::Line(const QJsonObject& status) {
    return QStringLiteral("%1 %2 %3: last probe %4\n")
        .arg(Class(status), Countdown(status), status.value(QLatin1String("name")).toString(),
             LastProbe(status))
        .toUtf8();
}

QByteArray CStatusText::Waybar(const QJsonObject& status) {
    const QString cls = Class(status);
    const QJsonObject waybar{{QStringLiteral("text"), Countdown(status)},
                             {QStringLiteral("tooltip"), QString::fromUtf8(Text(status)).trimmed()},
                             {QStringLiteral("class"), cls},
                             {QStringLiteral("alt"), cls}};
    return QJsonDocument(waybar).toJson(QJsonDocument::Compact) + '\n';
}

int CStatusText::Exit(const QJsonObject& status) {
    if (status.value(QLatin1String("down")).toBool())
        return Down;
    const QString last = status.value(QLatin1String("last")).toString(QStringLiteral("answered"));
    return last == QLatin1String("answered") ? Ok : Failed;
}
