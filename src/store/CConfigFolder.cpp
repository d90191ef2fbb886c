#include "CConfigFolder.h"

#include <QDir>
#include <QFile>

QByteArray CConfigFolder::Path() {
    QByteArray override = qgetenv("BUMPLE_CONFIG_DIR"); // not const: returned by move
    if (!override.isEmpty())
        return override;
    QByteArray base = qgetenv("XDG_CONFIG_HOME");
    if (base.isEmpty()) {
        base = qgetenv("HOME");
        if (base.isEmpty())
            base = QFile::encodeName(QDir::homePath());
        base += "/.config";
    }
    return base + "/Quellmoor Software";
}

QByteArray CConfigFolder::HivePath() {
    return Path() + "/registry.reg";
}

QByteArray CConfigFolder::WindowsDirectory() {
    return Path();
}
