#include "CConfigFolder.h"

#include <QDir>

QString CConfigFolder::Path() {
    const QString override = qEnvironmentVariable("BUMPLE_CONFIG_DIR");
    if (!override.isEmpty())
        return override;
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Quellmoor Software");
}

QString CConfigFolder::HivePath() {
    return Path() + QStringLiteral("/registry.reg");
}

QString CConfigFolder::WindowsDirectory() {
    return Path();
}
