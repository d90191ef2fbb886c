#pragma once

#include "CRegistry.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The program's settings: named values under the application key, one subkey per section,
// every value REG_SZ text in UTF-8. Every operation opens the key it needs and closes it
// before it returns.
//
// Text that is no valid UTF-8 (a legacy file's Windows-1252, a hand edit in Latin-1) reads as
// Windows-1252, never as U+FFFD. A text of more than 259 characters cannot be read: characters,
// not UTF-8 bytes, since each was one byte in the Windows code page that such settings come
// from, and a value must not turn unreadable because the import made it UTF-8.
//
// A write of the text that this store last read or wrote under that name writes nothing, so a
// value keeps its bytes until it really changes, and what another instance or a hand edit
// changed meanwhile is not undone by a save of unchanged settings. (A value that was missing
// when it was read has no such text: writing it stores it.) The writes between
// BeginWriteUnit and EndWriteUnit reach the file together as one change, or none of them does;
// reads in between see them. A unit counts as changed when it differs as a whole from what
// this store last read or wrote of its values: then all of it is written, so that a group (the
// name list) never holds a mix of two writers' versions and the later one wins; else nothing.
//
// A write that fails (a full disk, a read-only folder, a held lock) stays pending: reads see
// it, and every later write of this store, whether it changes anything or not, and
// SavePending try it again in the same change. A later write of the same value replaces it.
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

    // The start of every run: sets the store on the application key below HKEY_LOCAL_MACHINE,
    // creating it; imports the legacy INI file when the key is new; closes the key, which
    // writes a new key and its import in one go. False when the key cannot be created or
    // opened or the close fails; the disposition tells whether the key was new.
    bool OpenApplicationKey(DWORD* pdwDisposition = nullptr);
    // Stores the path and root first, also when the create-or-open then fails.
    bool SetKey(HKEY* phKey, DWORD* pdwDisposition, HKEY hRootKey, const QString& strKeyPath);
    int GetProfileInt(const QString& strSection, const QString& strEntry, int nDefault);
    bool WriteProfileInt(const QString& strSection, const QString& strEntry, int nValue);
    QString GetProfileString(const QString& strSection, const QString& strEntry,
                             const QString& strDefault = QString());
    bool WriteProfileString(const QString& strSection, const QString& strEntry,
                            const QString& strValue);
    // Copies the legacy INI file ("Bumple.INI") from the Windows directory into the registry below
    // hAppKey: as UTF-8 when the file is valid UTF-8, else as Windows-1252 made UTF-8.
    void ImportIniFile(HKEY hAppKey);
    void BeginWriteUnit();
    // True when the unit's writes are in the file, or it changed nothing.
    bool EndWriteUnit();
    // The name list and its selection as one unit: ComboName0, ComboName1, ... = the names,
    // the names this store knew beyond them blanked, ComboNameSel = nSelection. When written,
    // the list also ends after the last name in the file, whatever another writer put there.
    bool WriteNameList(const QStringList& names, int nSelection);
    // Whether a write failed and is not in the file yet.
    bool HasPending() const { return !m_pending.isEmpty(); }
    // Tries the pending writes again; true when nothing is left pending.
    bool SavePending();

    QString m_strKeyPath;
    HKEY m_hRootKey;

private:
    struct Write {
        QString section;
        QString entry;
        QString value;
        QString known; // the section and value name as m_knownTexts holds them
    };
    using Writes = QList<Write>;

    static Write MakeWrite(const QString& strSection, const QString& strEntry,
                           const QString& strValue);
    // The value's text as this store sees it (its unit, its pending writes, then the file);
    // what the file gives is remembered as what this instance last read.
    std::optional<QString> ReadProfileText(const QString& strSection, const QString& strEntry);
    static std::optional<QString> TextIn(const Writes& writes, const QString& known);
    // The text last read or written, or pending, without looking at the file.
    QString KnownText(const Write& write) const;
    // Writes the unit when it changes something, and what is pending in any case; listEnd is
    // emptied in the file too then.
    bool WriteUnit(const Writes& writes, const std::optional<Write>& listEnd);
    // The pending writes and then these as one change; what fails stays pending.
    bool Flush(const Writes& writes, const std::optional<Write>& listEnd);
    // The writes as one change of the file.
    bool Store(const Writes& writes, const std::optional<Write>& listEnd) const;

    // The text last read or written under each section and value name (case-folded).
    QHash<QString, QString> m_knownTexts;
    Writes m_pending;                      // writes that failed, in the order they were made
    std::optional<Write> m_pendingListEnd; // the end of a name list among them
    Writes m_unit;
    bool m_bInUnit = false;
};
