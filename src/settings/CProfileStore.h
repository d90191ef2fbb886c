#pragma once

#include "CRegistry.h"

#include <QString>

// The program's settings: named values under the application key, one subkey per section,
// every value REG_SZ text in UTF-8. Every operation opens the key it needs and closes it
// before it returns.
//
// First run: SetKey creates the application key with CRegistry::RegCreateKeyTransacted. When
// the key is new, its creation and everything ImportIniFile then writes through it stay in
// memory until the caller closes the key, and reach the hive together in one atomic write. A
// crash before that leaves no application key, so the next start creates it again and
// imports again; a crash after it leaves the import complete. No state in between exists.
class CProfileStore {
public:
    CProfileStore();
    virtual ~CProfileStore();

    // Stores the path and root first, also when the create-or-open then fails.
    bool SetKey(HKEY* phKey, DWORD* pdwDisposition, HKEY hRootKey, const QString& strKeyPath);
    int GetProfileInt(const QString& strSection, const QString& strEntry, int nDefault);
    bool WriteProfileInt(const QString& strSection, const QString& strEntry, int nValue);
    QString GetProfileString(const QString& strSection, const QString& strEntry,
                             const QString& strDefault = QString());
    bool WriteProfileString(const QString& strSection, const QString& strEntry,
                            const QString& strValue);
    // Copies "Bumple.INI" from the Windows directory into the registry below hAppKey.
    void ImportIniFile(HKEY hAppKey);

    QString m_strKeyPath;
    HKEY m_hRootKey;
};
