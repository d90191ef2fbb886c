#include "CRegistry.h"

#include "CBoundedWait.h"
#include "CConfigFolder.h"
#include "CFileDescriptor.h"
#include "CRegistryHive.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Change = std::function<void(CRegistryHive&)>;

// Changes held back for RegCreateKeyTransacted, shared by the keys below the one it made.
struct Transaction {
    std::vector<Change> changes;
    // The file's hive that view was made from, and view: that hive with the changes applied.
    std::shared_ptr<const CRegistryHive> base;
    CRegistryHive view;
};
} // namespace

struct HKEY__ {
    QString path;
    bool writable;
    std::shared_ptr<Transaction> pending;
};

namespace {

HKEY__ g_localMachine{QStringLiteral("HKEY_LOCAL_MACHINE"), true, nullptr};

// How long a change waits for another process's lock before it fails.
constexpr auto kLockWait = std::chrono::milliseconds(1500);

std::optional<QString> JoinPath(const QString& parent, const QString& subKey) {
    if (subKey.isEmpty())
        return parent;
    for (const QString& name : subKey.split(QLatin1Char('\\'))) {
        if (name.isEmpty())
            return std::nullopt;
    }
    for (const QChar c : subKey) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return std::nullopt;
    }
    return parent + QLatin1Char('\\') + subKey;
}

// A version of the file: while none of these changes, its content is taken as unchanged.
// Every change this program makes is a new file (a new inode); an edit in place is seen by
// its size or its modification time.
struct FileVersion {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;

    explicit FileVersion(const struct stat& info)
        : device(info.st_dev), inode(info.st_ino), size(info.st_size), modified(info.st_mtim) {}
    bool operator==(const FileVersion& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

struct FileHive {
    std::shared_ptr<const CRegistryHive> hive;
    std::optional<FileVersion> version; // none when there is no file
    std::optional<mode_t> mode;
};

// The last hive read, reused while its file keeps its version.
FileHive g_lastRead;

// The hive in the file as it is now. A missing file reads as an empty hive; a file too large
// to be a settings file is not read at all.
LONG ReadHive(const QByteArray& path, FileHive& current) {
    struct stat info;
    if (::stat(path.constData(), &info) != 0) {
        if (errno != ENOENT)
            return ERROR_REGISTRY_IO_FAILED;
        static const auto empty = std::make_shared<const CRegistryHive>(CRegistryHive::Parse({}));
        current = {empty, std::nullopt, std::nullopt};
        return ERROR_SUCCESS;
    }
    if (info.st_size > CRegistry::kMaxHiveSize)
        return ERROR_FILE_TOO_LARGE;
    if (S_ISREG(info.st_mode) && g_lastRead.version == FileVersion(info)) {
        current = g_lastRead;
        return ERROR_SUCCESS;
    }
    const CFileDescriptor file = CFileDescriptor::Open(path, O_RDONLY);
    if (!file.IsOpen())
        return ERROR_REGISTRY_IO_FAILED;
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return ERROR_REGISTRY_IO_FAILED;
    if (info.st_size > CRegistry::kMaxHiveSize)
        return ERROR_FILE_TOO_LARGE;
    QByteArray content;
    content.reserve(info.st_size);
    if (!file.ReadAll(content, CRegistry::kMaxHiveSize))
        return ERROR_REGISTRY_IO_FAILED;
    // The version is the one read; a change while reading shows as a new version next time.
    g_lastRead = {std::make_shared<const CRegistryHive>(CRegistryHive::Parse(content)),
                  FileVersion(info), mode_t(info.st_mode & 07777)};
    current = g_lastRead;
    return ERROR_SUCCESS;
}

QByteArray FolderOf(const QByteArray& file) {
    const qsizetype slash = file.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : file.left(slash);
}

bool IsFolder(const QByteArray& path) {
    struct stat info;
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeFolders(const QByteArray& folder) {
    if (IsFolder(folder))
        return true;
    for (qsizetype slash = folder.indexOf('/', 1); slash > 0;
         slash = folder.indexOf('/', slash + 1))
        ::mkdir(folder.left(slash).constData(), 0777);
    ::mkdir(folder.constData(), 0777);
    return IsFolder(folder);
}

bool SyncFolder(const QByteArray& folder) {
    CFileDescriptor handle = CFileDescriptor::Open(folder, O_RDONLY | O_DIRECTORY);
    return handle.IsOpen() && ::fsync(handle.Get()) == 0 && handle.Close();
}

// The file a change replaces: the hive, or the end of its chain of links (empty for a loop).
QByteArray ChangedFile() {
    QByteArray path = CConfigFolder::HivePath();
    for (int hop = 0; hop < 40; ++hop) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.constData(), target, sizeof target);
        if (n < 0)
            return path;
        const QByteArray link(target, n);
        path = link.startsWith('/') ? link : FolderOf(path) + '/' + link;
    }
    return {};
}

// Opens the lock file without following a link and without blocking on anything but a
// regular file; another user's that this user may only read locks as well.
CFileDescriptor OpenLockFile(const QByteArray& lockPath) {
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK;
    CFileDescriptor lock = CFileDescriptor::Open(lockPath, O_RDWR | O_CREAT | kFlags, 0644);
    if (!lock.IsOpen())
        lock = CFileDescriptor::Open(lockPath, O_RDONLY | kFlags);
    struct stat info;
    if (lock.IsOpen() && (::fstat(lock.Get(), &info) != 0 || !S_ISREG(info.st_mode)))
        lock.Close();
    return lock;
}

// What serializes the changes of one file. Every writer locks the folder, which any user who
// may read and write it can open whatever the owners and modes of the files in it, and then
// "<file>.lock" when it can open that; older writers lock only the file. Where the file system
// takes no lock on a folder, the lock file alone serves.
struct HiveLock {
    CFileDescriptor folder;
    CFileDescriptor file;
};

// The handles of the lock, unlocked; nothing when it cannot be had. The folder is made here,
// as this is the first thing any change needs.
std::optional<HiveLock> OpenLock(const QByteArray& file) {
    if (file.isEmpty() || !MakeFolders(FolderOf(file)))
        return std::nullopt;
    HiveLock lock{CFileDescriptor::Open(FolderOf(file), O_RDONLY | O_DIRECTORY),
                  OpenLockFile(file + ".lock")};
    if (!lock.folder.IsOpen())
        return std::nullopt;
    return lock;
}

// Takes one exclusive lock, retrying while another process holds it, until the wait is over.
// EWOULDBLOCK at the end fails; any other error means the file system takes no lock here.
bool Flock(const CFileDescriptor& handle, const CBoundedWait& wait, bool& unsupported) {
    bool locked = false;
    wait.Until(std::chrono::milliseconds(5), [&] {
        locked = ::flock(handle.Get(), LOCK_EX | LOCK_NB) == 0;
        unsupported = !locked && errno != EWOULDBLOCK;
        return locked || unsupported;
    });
    return locked;
}

// Locks both, or fails when another process holds either for longer than kLockWait or when
// neither can be locked.
std::optional<HiveLock> LockFor(const QByteArray& file) {
    std::optional<HiveLock> lock = OpenLock(file);
    if (!lock)
        return std::nullopt;
    const CBoundedWait wait(kLockWait);
    bool folderUnsupported = false;
    const bool folderLocked = Flock(lock->folder, wait, folderUnsupported);
    if (!folderLocked && !folderUnsupported)
        return std::nullopt;
    bool fileUnsupported = false;
    const bool fileLocked = lock->file.IsOpen() && Flock(lock->file, wait, fileUnsupported);
    if (lock->file.IsOpen() && !fileLocked && !fileUnsupported)
        return std::nullopt;
    if (!folderLocked && !fileLocked)
        return std::nullopt;
    return lock;
}

// Writes content into a temporary file beside the file and renames it over the file.
bool ReplaceFile(const QByteArray& path, const QByteArray& content, std::optional<mode_t> mode) {
    const QByteArray tempPath = path + ".tmp";
    // Only the lock holder writes the temporary file, so one found here is a dead writer's.
    ::unlink(tempPath.constData());
    CFileDescriptor temp = CFileDescriptor::Open(tempPath, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (!temp.IsOpen())
        return false;
    bool written = (!mode || ::fchmod(temp.Get(), *mode) == 0) && temp.WriteAll(content) &&
                   ::fsync(temp.Get()) == 0;
    written = temp.Close() && written;
    if (!written || ::rename(tempPath.constData(), path.constData()) != 0) {
        ::unlink(tempPath.constData());
        return false;
    }
    // The rename is in place now; a failed flush of the folder still fails the change,
    // since it may not survive a crash.
    return SyncFolder(FolderOf(path));
}

bool Changes(const CRegistryHive& hive, const std::vector<Change>& changes) {
    CRegistryHive changed = hive;
    for (const Change& change : changes)
        change(changed);
    return changed.IsModified();
}

LONG Commit(const std::vector<Change>& changes) {
    const QByteArray file = ChangedFile();
    if (file.isEmpty())
        return ERROR_REGISTRY_IO_FAILED;
    FileHive current;
    LONG result = ReadHive(file, current);
    // A change that changes nothing takes no lock, so another process's lock never holds it up.
    if (result != ERROR_SUCCESS || !Changes(*current.hive, changes))
        return result;
    const std::optional<HiveLock> lock = LockFor(file);
    if (!lock)
        return ERROR_REGISTRY_IO_FAILED;
    result = ReadHive(file, current);
    if (result != ERROR_SUCCESS)
        return result;
    CRegistryHive hive = *current.hive;
    for (const Change& change : changes)
        change(hive);
    if (!hive.IsModified())
        return ERROR_SUCCESS;
    const QByteArray content = hive.Serialize();
    // A file past the cap would be no settings file at the next start.
    if (content.size() > CRegistry::kMaxHiveSize)
        return ERROR_FILE_TOO_LARGE;
    return ReplaceFile(file, content, current.mode) ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

// The hive as the key sees it: the file with the key's held-back changes applied.
LONG Load(HKEY hKey, std::shared_ptr<const CRegistryHive>& hive) {
    FileHive current;
    // The file's version and content are those of the end of its links, so the cache serves
    // reads and changes alike.
    const LONG result = ReadHive(CConfigFolder::HivePath(), current);
    if (result != ERROR_SUCCESS || !hKey->pending) {
        hive = current.hive;
        return result;
    }
    Transaction& pending = *hKey->pending;
    if (pending.base != current.hive) {
        pending.view = *current.hive;
        for (const Change& change : pending.changes)
            change(pending.view);
        pending.base = current.hive;
    }
    hive = std::shared_ptr<const CRegistryHive>(hKey->pending, &pending.view);
    return ERROR_SUCCESS;
}

// Applies one change: held back when the key belongs to a transaction, else written now.
LONG ApplyChange(HKEY hKey, Change change) {
    if (hKey->pending) {
        if (hKey->pending->base)
            change(hKey->pending->view);
        hKey->pending->changes.push_back(std::move(change));
        return ERROR_SUCCESS;
    }
    return Commit({std::move(change)});
}

// The common start of a create and an open: checks the arguments (a create needs a key opened
// for writing), joins the subkey's full path and loads the hive as the parent key sees it.
LONG LocateSubKey(HKEY hKey, const QString& subKey, HKEY* phkResult, bool bForWriting,
                  QString& path, std::shared_ptr<const CRegistryHive>& hive) {
    if (phkResult == nullptr)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (hKey == nullptr)
        return ERROR_INVALID_HANDLE;
    if (bForWriting && !hKey->writable)
        return ERROR_ACCESS_DENIED;
    const std::optional<QString> joined = JoinPath(hKey->path, subKey);
    if (!joined)
        return ERROR_BAD_PATHNAME;
    path = *joined;
    return Load(hKey, hive);
}

} // namespace

const HKEY HKEY_LOCAL_MACHINE = &g_localMachine;

LONG CRegistry::CreateKey(HKEY hKey, const QString& subKey, HKEY* phkResult, DWORD* pdwDisposition,
                          bool transacted) {
    QString path;
    std::shared_ptr<const CRegistryHive> hive;
    if (const LONG result = LocateSubKey(hKey, subKey, phkResult, true, path, hive);
        result != ERROR_SUCCESS)
        return result;
    const bool existed = hive->HasKey(path);
    auto key = std::make_unique<HKEY__>(HKEY__{path, true, hKey->pending});
    if (transacted && !key->pending)
        key->pending = std::make_shared<Transaction>();
    if (!existed) {
        // A held-back creation would otherwise only fail at the close, long after the caller
        // was told that the key is there. Whether the lock can be had is enough; it is taken
        // at the close.
        if (key->pending && !hKey->pending && !OpenLock(ChangedFile()))
            return ERROR_REGISTRY_IO_FAILED;
        const LONG result =
            ApplyChange(key.get(), [keyPath = path](CRegistryHive& h) { h.AddKey(keyPath); });
        if (result != ERROR_SUCCESS)
            return result;
    }
    if (pdwDisposition != nullptr)
        *pdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *phkResult = key.release();
    return ERROR_SUCCESS;
}

LONG CRegistry::RegCreateKeyEx(HKEY hKey, const QString& subKey, HKEY* phkResult,
                               DWORD* pdwDisposition) {
    return CreateKey(hKey, subKey, phkResult, pdwDisposition, false);
}

LONG CRegistry::RegCreateKeyTransacted(HKEY hKey, const QString& subKey, HKEY* phkResult,
                                       DWORD* pdwDisposition) {
    return CreateKey(hKey, subKey, phkResult, pdwDisposition, true);
}

LONG CRegistry::RegOpenKeyEx(HKEY hKey, const QString& subKey, HKEY* phkResult) {
    QString path;
    std::shared_ptr<const CRegistryHive> hive;
    if (const LONG result = LocateSubKey(hKey, subKey, phkResult, false, path, hive);
        result != ERROR_SUCCESS)
        return result;
    if (!hive->HasKey(path))
        return ERROR_FILE_NOT_FOUND;
    *phkResult = new HKEY__{path, false, hKey->pending};
    return ERROR_SUCCESS;
}

LONG CRegistry::RegQueryValueEx(HKEY hKey, const QByteArray& valueName, char* pData,
                                DWORD* pcbData) {
    if (hKey == nullptr)
        return ERROR_INVALID_HANDLE;
    if (pcbData == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const CRegistryHive> hive;
    if (const LONG result = Load(hKey, hive); result != ERROR_SUCCESS)
        return result;
    const std::optional<QByteArray> text = hive->Value(hKey->path, valueName);
    if (!text)
        return ERROR_FILE_NOT_FOUND;
    const qsizetype needed = text->size() + 1;
    const bool fits = needed <= qsizetype(*pcbData);
    *pcbData = DWORD(needed);
    if (pData == nullptr)
        return ERROR_SUCCESS;
    if (!fits)
        return ERROR_MORE_DATA;
    std::memcpy(pData, text->constData(), size_t(needed));
    return ERROR_SUCCESS;
}

LONG CRegistry::RegSetValueEx(HKEY hKey, const QByteArray& valueName, const char* pData,
                              DWORD cbData) {
    if (hKey == nullptr)
        return ERROR_INVALID_HANDLE;
    if (!hKey->writable)
        return ERROR_ACCESS_DENIED;
    if (pData == nullptr && cbData > 0)
        return ERROR_INVALID_PARAMETER;
    QByteArray text(pData, qsizetype(cbData));
    if (text.endsWith('\0'))
        text.chop(1);
    return ApplyChange(hKey, [keyPath = hKey->path, valueName, text](CRegistryHive& hive) {
        hive.SetValue(keyPath, valueName, text);
    });
}

LONG CRegistry::RegCloseKey(HKEY hKey) {
    if (hKey == nullptr)
        return ERROR_INVALID_HANDLE;
    if (hKey == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    const std::unique_ptr<HKEY__> key(hKey);
    if (key->pending && key->pending.use_count() == 1 && !key->pending->changes.empty())
        return Commit(key->pending->changes);
    return ERROR_SUCCESS;
}

bool CRegistry::HiveTooLarge() {
    struct stat info;
    return ::stat(CConfigFolder::HivePath().constData(), &info) == 0 && info.st_size > kMaxHiveSize;
}
