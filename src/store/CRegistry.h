#pragma once

#include "WinTypes.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// An open key. The predefined roots are never freed; every other handle is freed by
// RegCloseKey.
using HKEY = struct HKEY__*;
extern const HKEY HKEY_LOCAL_MACHINE;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_BAD_PATHNAME = 161;
constexpr LONG ERROR_FILE_TOO_LARGE = 223;
constexpr LONG ERROR_MORE_DATA = 234;
// The hive could not be read or replaced.
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;

constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// The Win32 registry calls over the hive file CConfigFolder::HivePath().
//
// Every call looks at the file afresh, so a hand edit is seen at the next read; the parsed
// file is reused while its device, inode, size and modification time stay the same. A file
// larger than kMaxHiveSize is never read or written: every call fails with
// ERROR_FILE_TOO_LARGE.
//
// A change is one read-modify-write under an exclusive flock on the hive's folder and on
// "<hive>.lock" (never followed through a link, and left out when this user cannot open it),
// so that any two writers exclude each other whoever owns the lock file: re-read, apply, write
// "<hive>.tmp", fsync it, rename it over the hive, fsync the folder, and only then succeed.
// Where the file system locks only one of the two (ENOLCK, or EBADF on what is open for
// reading, as NFS), that one serves alone; where it locks neither, the change is made without
// a lock after one warning on standard error. Where the folder may not be written but the file
// may, the file is rewritten in place under the lock and fsync'd, which is not atomic. A change
// that changes nothing writes nothing and takes no lock; a lock that another process holds for
// more than a second and a half fails the change, and so does a change that would make the
// file larger than kMaxHiveSize. A crash leaves the old file or the new one; a failure before
// the rename leaves the hive byte-identical and removes the temporary file. A symlinked hive
// has the end of its link chain replaced, and the lock and temporary file lie beside that
// file. The file's mode, owner and group, as they are at the change, are kept where this user
// may keep them. Reads take no lock: the hive is only ever replaced whole by rename, so an
// open sees one complete version. Every call works relative to the folder, which is opened
// in pieces when its path is longer than PATH_MAX.
//
// Names of subkeys are joined to their parent's path with a backslash; a path with an empty
// name in it or a control character fails with ERROR_BAD_PATHNAME. Keys created or opened by
// RegCreateKeyEx may be written; keys opened by RegOpenKeyEx are for reading only.
class CRegistry {
public:
    // Larger than any settings file: the program's own hive stays far below it.
    static constexpr off_t kMaxHiveSize = 16 * 1024 * 1024;

    // Creates the key and every missing key above it, or opens it when it exists.
    static LONG RegCreateKeyEx(HKEY hKey, const QString& subKey, HKEY* phkResult,
                               DWORD* pdwDisposition);
    // As RegCreateKeyEx, but the creation and every change made through the new key, or
    // through keys created or opened below it, is held back: it is written as one change
    // when the last of these keys is closed, and that RegCloseKey reports the result. Until
    // then these keys read as if it were written; nothing of it outlives a crash. Creating a
    // new key fails at once when the hive's folder cannot be made or opened for its lock.
    static LONG RegCreateKeyTransacted(HKEY hKey, const QString& subKey, HKEY* phkResult,
                                       DWORD* pdwDisposition);
    // Fails with ERROR_FILE_NOT_FOUND when the key does not exist.
    static LONG RegOpenKeyEx(HKEY hKey, const QString& subKey, HKEY* phkResult);
    // Copies the text with a NUL after it. When *pcbData is too small for both it fails with
    // ERROR_MORE_DATA; *pcbData always ends up as the size needed. A null pData asks for the
    // size only.
    static LONG RegQueryValueEx(HKEY hKey, const QByteArray& valueName, char* pData,
                                DWORD* pcbData);
    // Writes REG_SZ text; cbData counts the terminator, which is not stored.
    static LONG RegSetValueEx(HKEY hKey, const QByteArray& valueName, const char* pData,
                              DWORD cbData);
    static LONG RegCloseKey(HKEY hKey);
    // Whether the hive is a file too large to be used.
    static bool HiveTooLarge();
    // Why the hive cannot be read, in words; empty when it can, is missing or is too large.
    static QString ReadFailure();
    // Why the last change that failed did not reach the file, in words.
    static QString LastFailure();

private:
    static LONG CreateKey(HKEY hKey, const QString& subKey, HKEY* phkResult, DWORD* pdwDisposition,
                          bool transacted);
};
