#pragma once

// What the hive, profile store and import suites share: reading files back and the helper
// program that writes from a process of its own.

#include "CConfigFolder.h"
#include "CRegistryHive.h"

#include <QFile>
#include <QString>

inline QByteArray ReadFileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray ReadHiveBytes() {
    return ReadFileBytes(CConfigFolder::HivePath());
}

inline CRegistryHive ReadHive() {
    return CRegistryHive::Parse(ReadHiveBytes());
}

// The path of helper_hivewriter, found in the folder CTest names.
inline QString HiveWriterPath() {
    return qEnvironmentVariable("BUMPLE_TEST_BINARY_DIR") + QStringLiteral("/helper_hivewriter");
}
