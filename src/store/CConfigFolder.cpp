#include "CConfigFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>

namespace {
QString RealPathOf(const QString& path, int links = 0) {
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    if (info.isSymLink())
        return links < 8 ? RealPathOf(info.symLinkTarget(), links + 1) : path;
    if (info.isRoot())
        return path;
    return QDir::cleanPath(RealPathOf(info.absolutePath(), links) + '/' + info.fileName());
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

QByteArray CConfigFolder::RealPath(const QByteArray& folder) {
    char* pReal = realpath(folder.constData(), nullptr);
    QByteArray real = pReal != nullptr ? QByteArray(pReal)
                                       : QFile::encodeName(RealPathOf(QFile::decodeName(folder)));
    std::free(pReal);
    return real;
}

bool CConfigFolder::Make() {
    return QDir().mkpath(QFile::decodeName(RealPath(Path())));
}

QByteArray CConfigFolder::HivePath() {
    return Path() + "/registry.reg";
}

QByteArray CConfigFolder::WindowsDirectory() {
    return Path();
}
