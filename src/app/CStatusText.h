#pragma once

#include <QByteArray>

class QJsonObject;

// The state of the Bumple that runs, as its status object reports it, in the forms scripts
// read: a few lines for a person, one line for a running status bar, waybar's JSON, and an
// exit code in the convention monitoring plugins use.
class CStatusText {
public:
    enum ExitCode { Ok = 0, Failed = 1, Down = 2, Unknown = 3 };

    static QByteArray Text(const QJsonObject& status);
    static QByteArray Line(const QJsonObject& status);
    // {"text", "tooltip", "class", "alt"} on one line.
    static QByteArray Waybar(const QJsonObject& status);
    static int Exit(const QJsonObject& status);
};
