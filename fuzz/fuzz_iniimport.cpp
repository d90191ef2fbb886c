// Any bytes as the legacy INI file of a first start: the import never crashes, whatever its
// section names, and leaves a hive with the application key that reads back as it was saved.

#include "CConfigFolder.h"
#include "CProfileStore.h"
#include "CRegistryHive.h"
#include "SettingsTable.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static QTemporaryDir folder;
    if (!folder.isValid())
        std::abort();
    qputenv("BUMPLE_CONFIG_DIR", folder.path().toUtf8());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QFile::remove(CConfigFolder::HivePath());
    QFile ini(CConfigFolder::WindowsDirectory() + '/' + SettingsTable::kLegacyIniName);
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    ini.write(reinterpret_cast<const char*>(data), qint64(size));
    ini.close();

    CProfileStore store;
    DWORD disposition = 0;
    if (!store.OpenApplicationKey(&disposition) || disposition != REG_CREATED_NEW_KEY)
        std::abort();

    const QByteArray saved = ReadAll(CConfigFolder::HivePath());
    const CRegistryHive hive = CRegistryHive::Parse(saved);
    if (hive.Serialize() != saved ||
        !hive.HasKey(QStringLiteral("HKEY_LOCAL_MACHINE\\") + SettingsTable::kKeyPath))
        std::abort();
    return 0;
}
