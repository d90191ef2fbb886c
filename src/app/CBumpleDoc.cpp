#include "CBumpleDoc.h"

#include <QFile>

bool CBumpleDoc::OnNewDocument(bool* pbShowWindow) {
    *pbShowWindow = false;
    return true;
}

bool CBumpleDoc::OnOpenDocument(const QString& strPath) {
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly);
}
