#include "CBumpleDoc.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

bool CBumpleDoc::OnNewDocument(bool* pbShowWindow) {
    *pbShowWindow = false;
    return true;
}

bool CBumpleDoc::OnOpenDocument(const QString& strPath) {
    return CanOpen(strPath);
}

bool CBumpleDoc::CanOpen(const QString& strPath) {
    const QByteArray path = QFile::encodeName(strPath);
    struct stat info = {};
    return !path.isEmpty() && stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.constData(), R_OK) == 0;
}
