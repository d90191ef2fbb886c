#include "CConfigFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
bool MakeFolder(const QString& path, int links = 0) {
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (info.isSymLink())
        return links < 8 && MakeFolder(info.symLinkTarget(), links + 1);
    return !info.isRoot() && MakeFolder(info.absolutePath(), links) &&
           (QDir().mkdir(path) || QFileInfo(path).isDir());
}
} // namespace

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

bool CConfigFolder::Make() {
    return MakeFolder(QFileInfo(QFile::decodeName(Path())).absoluteFilePath());
}

QByteArray CConfigFolder::HivePath() {
    return Path() + "/registry.reg";
}

QByteArray CConfigFolder::WindowsDirectory() {
    return Path();
}
