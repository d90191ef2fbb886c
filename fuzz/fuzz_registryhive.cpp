// Any bytes as a hive file: reading and saving never crash or hang, a saved hive reads back to
// the same bytes, and a value set in it reads back after the next save, whatever else the file
// holds.

#include "CRegistryHive.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    CRegistryHive hive = CRegistryHive::Parse(input);
    const QByteArray saved = hive.Serialize();
    if (CRegistryHive::Parse(saved).Serialize() != saved)
        std::abort();

    static const QString kKeys[] = {
        QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple\\Settings"),
        QStringLiteral("HKEY_LOCAL_MACHINE\\A"), QStringLiteral("HKEY_LOCAL_MACHINE\\a\\B")};
    const QString& key = kKeys[size % 3];
    const QByteArray name = input.left(qsizetype(size % 7));
    const QByteArray value = input.right(qsizetype(size % 11));
    hive.SetValue(key, name, value);
    const QByteArray changed = hive.Serialize();
    const CRegistryHive reread = CRegistryHive::Parse(changed);
    if (reread.Value(key, name) != value || reread.Serialize() != changed)
        std::abort();
    return 0;
}
