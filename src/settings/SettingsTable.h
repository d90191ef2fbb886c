#pragma once

#include <QString>
#include <QStringList>

// Where and under which names the settings live: the application key below
// HKEY_LOCAL_MACHINE, its one section, each value's name and the default read when it is
// missing. Every reader and writer takes its names from here.
namespace SettingsTable {

inline const QString kKeyPath = QStringLiteral("Software\\Quellmoor Software\\Bumple");
inline const QString kSection = QStringLiteral("Settings");
// The legacy settings file in the Windows directory, imported once into a new key.
inline const QByteArray kLegacyIniName = QByteArrayLiteral("Bumple.INI");

inline const QString kOften = QStringLiteral("Often"); // minutes between probes, as typed
inline const QString kOftenDefault = QStringLiteral("25");
inline const QString kIgnore = QStringLiteral("Ignore");
constexpr int kIgnoreDefault = 1;
inline const QString kRandomName = QStringLiteral("RandomName");
constexpr int kRandomNameDefault = 0;
inline const QString kRandomTime = QStringLiteral("RandomTime");
constexpr int kRandomTimeDefault = 0;
inline const QString kAutoStart = QStringLiteral("AutoStart");
constexpr int kAutoStartDefault = 1;
inline const QString kDebug = QStringLiteral("Debug");
constexpr int kDebugDefault = 0;
// Probes only while the link to the target carries no traffic of its own.
inline const QString kIdleOnly = QStringLiteral("IdleOnly");
constexpr int kIdleOnlyDefault = 0;
// A desktop notification when the link goes down and when it comes back.
inline const QString kNotify = QStringLiteral("Notify");
constexpr int kNotifyDefault = 0;

// The name list: ComboName0, ComboName1, ... up to the first empty or missing one, and the
// index of the current name.
inline QString ComboName(int i) {
    return QStringLiteral("ComboName%1").arg(i);
}
inline const QString kComboNameSel = QStringLiteral("ComboNameSel");
constexpr int kComboNameSelDefault = 0;
// The list when ComboName0 is missing or empty, and what "Restore Default" puts back.
inline const QStringList kDefaultNames = {
    QStringLiteral("www.google.com"), QStringLiteral("www.microsoft.com"),
    QStringLiteral("1.1.1.1"), QStringLiteral("www.apple.com"), QStringLiteral("www.amazon.com")};

} // namespace SettingsTable
