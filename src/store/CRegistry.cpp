#include "CRegistry.h"

#include "CBoundedWait.h"
#include "CConfigFolder.h"
#include "CFileDescriptor.h"
#include "CRegistryHive.h"

#include <QList>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
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
};

// The last hive read, reused while its file keeps its version.
FileHive g_lastRead;

// Why the last change that failed did not reach the file: an errno value.
int g_lastError = 0;

LONG Failed(int error, LONG result = ERROR_REGISTRY_IO_FAILED) {
    g_lastError = error;
    return result;
}

QByteArray FolderOf(const QByteArray& file) {
    const qsizetype slash = file.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : file.left(slash);
}

QByteArray NameOf(const QByteArray& file) {
    return file.mid(file.lastIndexOf('/') + 1);
}

// A folder opened for reading, so that it can be locked and flushed; one this user may only
// search is opened as a path, which still serves the calls relative to it.
CFileDescriptor OpenFolderAt(int at, const QByteArray& path) {
    CFileDescriptor folder = CFileDescriptor::OpenAt(at, path, O_RDONLY | O_DIRECTORY);
    if (!folder.IsOpen() && errno == EACCES)
        folder = CFileDescriptor::OpenAt(at, path, O_PATH | O_DIRECTORY);
    return folder;
}

// Opens a folder by a path of any length, one name at a time when it is longer than the
// system takes at once or when missing folders are to be made on the way.
CFileDescriptor OpenFolderPath(int at, const QByteArray& path, bool make) {
    QList<QByteArray> names = path.split('/');
    names.removeAll(QByteArray());
    if ((!make && path.size() < PATH_MAX) || names.isEmpty())
        return OpenFolderAt(at, path);
    CFileDescriptor folder;
    if (path.startsWith('/'))
        folder = CFileDescriptor::Open("/", O_PATH | O_DIRECTORY);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const int base = folder.IsOpen() ? folder.Get() : at;
        if (make)
            ::mkdirat(base, names[i].constData(), 0777);
        // The folders above are only passed through.
        CFileDescriptor next = i + 1 == names.size()
                                   ? OpenFolderAt(base, names[i])
                                   : CFileDescriptor::OpenAt(base, names[i], O_PATH | O_DIRECTORY);
        if (!next.IsOpen())
            return next;
        folder = std::move(next);
    }
    return folder;
}

// The file a change replaces: the end of the hive's chain of links, as its folder and its
// name in it. Every call on it is made relative to the folder, so that a path longer than
// the system takes at once serves as well as a short one.
struct HiveFile {
    CFileDescriptor folder; // not open when it cannot be had: error says why
    QByteArray name;
    int error = 0;
};

HiveFile OpenHive(bool makeFolders) {
    const QByteArray path = CConfigFolder::HivePath();
    HiveFile file{OpenFolderPath(AT_FDCWD, FolderOf(path), makeFolders), NameOf(path)};
    for (int hop = 0; file.folder.IsOpen(); ++hop) {
        char target[PATH_MAX];
        const ssize_t n =
            ::readlinkat(file.folder.Get(), file.name.constData(), target, sizeof target);
        if (n < 0)
            return file;
        if (hop == 40) {
            file.folder.Close();
            errno = ELOOP;
            break;
        }
        const QByteArray link(target, n);
        file.folder = OpenFolderPath(link.startsWith('/') ? AT_FDCWD : file.folder.Get(),
                                     FolderOf(link), makeFolders);
        file.name = NameOf(link);
    }
    file.error = errno;
    return file;
}

// The hive in the file as it is now. A missing file reads as an empty hive; a file too large
// to be a settings file is not read at all.
LONG ReadHive(const HiveFile& file, FileHive& current) {
    struct stat info;
    if (!file.folder.IsOpen() ||
        ::fstatat(file.folder.Get(), file.name.constData(), &info, 0) != 0) {
        const int error = file.folder.IsOpen() ? errno : file.error;
        if (error != ENOENT)
            return Failed(error);
        static const auto empty = std::make_shared<const CRegistryHive>(CRegistryHive::Parse({}));
        current = {empty, std::nullopt};
        return ERROR_SUCCESS;
    }
    if (info.st_size > CRegistry::kMaxHiveSize)
        return Failed(EFBIG, ERROR_FILE_TOO_LARGE);
    if (S_ISREG(info.st_mode) && g_lastRead.version == FileVersion(info)) {
        current = g_lastRead;
        return ERROR_SUCCESS;
    }
    const CFileDescriptor hive = CFileDescriptor::OpenAt(file.folder.Get(), file.name, O_RDONLY);
    if (!hive.IsOpen() || ::fstat(hive.Get(), &info) != 0)
        return Failed(errno);
    if (!S_ISREG(info.st_mode))
        return Failed(EISDIR);
    if (info.st_size > CRegistry::kMaxHiveSize)
        return Failed(EFBIG, ERROR_FILE_TOO_LARGE);
    QByteArray content;
    content.reserve(info.st_size);
    if (!hive.ReadAll(content, CRegistry::kMaxHiveSize))
        return Failed(errno);
    // The version is the one read; a change while reading shows as a new version next time.
    g_lastRead = {std::make_shared<const CRegistryHive>(CRegistryHive::Parse(content)),
                  FileVersion(info)};
    current = g_lastRead;
    return ERROR_SUCCESS;
}

// Opens the lock file without following a link and without blocking on anything but a
// regular file; another user's that this user may only read locks as well.
CFileDescriptor OpenLockFile(const HiveFile& file) {
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK;
    const QByteArray lockName = file.name + ".lock";
    const int folder = file.folder.Get();
    CFileDescriptor lock =
        CFileDescriptor::OpenAt(folder, lockName, O_RDWR | O_CREAT | kFlags, 0644);
    if (!lock.IsOpen())
        lock = CFileDescriptor::OpenAt(folder, lockName, O_RDONLY | kFlags);
    struct stat info;
    if (lock.IsOpen() && (::fstat(lock.Get(), &info) != 0 || !S_ISREG(info.st_mode)))
        lock.Close();
    return lock;
}

// Takes one exclusive lock, retrying while another process holds it, until the wait is over.
// EWOULDBLOCK at the end fails; any other error (ENOLCK where the file system has no locks,
// EBADF where it locks only what is open for writing, as NFS does) means that the file
// system takes no lock here.
bool Flock(const CFileDescriptor& handle, const CBoundedWait& wait, bool& unsupported) {
    bool locked = false;
    wait.Until(std::chrono::milliseconds(5), [&] {
        locked = ::flock(handle.Get(), LOCK_EX | LOCK_NB) == 0;
        unsupported = !locked && errno != EWOULDBLOCK;
        return locked || unsupported;
    });
    return locked;
}

// What serializes the changes of one file. Every writer locks the folder, which any user who
// may read it can open whatever the owners and modes of the files in it, and then
// "<file>.lock" when it can open that; older writers lock only the file. Where the file system
// takes no lock on one of them, the other serves alone; where it takes none at all, the change
// goes ahead unlocked after one warning, rather than never being saved. Nothing when another
// process holds either for longer than kLockWait.
std::optional<CFileDescriptor> LockFor(const HiveFile& file) {
    CFileDescriptor lockFile = OpenLockFile(file);
    const CBoundedWait wait(kLockWait);
    bool folderUnsupported = false;
    const bool folderLocked = Flock(file.folder, wait, folderUnsupported);
    bool fileUnsupported = !lockFile.IsOpen();
    const bool fileLocked = (folderLocked || folderUnsupported) && lockFile.IsOpen() &&
                            Flock(lockFile, wait, fileUnsupported);
    if ((!folderLocked && !folderUnsupported) || (!fileLocked && !fileUnsupported)) {
        g_lastError = EWOULDBLOCK;
        return std::nullopt;
    }
    static bool warned = false;
    if (!folderLocked && !fileLocked && !std::exchange(warned, true))
        std::fprintf(stderr,
                     "bumple: the settings file %s cannot be locked on this file system; it is "
                     "saved without a lock\n",
                     CConfigFolder::HivePath().constData());
    return lockFile;
}

bool SyncFolder(const CFileDescriptor& folder) {
    // A folder this user may not read cannot be flushed: its rename is as safe as the file
    // system makes it by itself.
    const int flags = ::fcntl(folder.Get(), F_GETFL);
    return flags != -1 && ((flags & O_PATH) != 0 || ::fsync(folder.Get()) == 0);
}

// Rewrites the file where it is: for a folder that this user may not write while the file is
// writable. The lock is held, but a crash in the middle leaves a torn file, and a reader may
// see one; the space is taken before anything is overwritten, so a full disk changes nothing.
bool RewriteInPlace(const HiveFile& file, const QByteArray& content, off_t oldSize) {
    CFileDescriptor hive = CFileDescriptor::OpenAt(file.folder.Get(), file.name, O_WRONLY);
    if (!hive.IsOpen())
        return false;
    if (content.size() > oldSize) {
        if (const int error = ::posix_fallocate(hive.Get(), 0, content.size()); error != 0) {
            (void)::ftruncate(hive.Get(), oldSize);
            errno = error;
            return false;
        }
    }
    const bool written = hive.WriteAll(content) && ::ftruncate(hive.Get(), content.size()) == 0 &&
                         ::fsync(hive.Get()) == 0;
    return hive.Close() && written;
}

// Writes content into a temporary file beside the file and renames it over the file. The
// file's mode, owner and group are taken as they are now, whatever a cache says.
bool ReplaceFile(const HiveFile& file, const QByteArray& content) {
    const int folder = file.folder.Get();
    struct stat info;
    const bool exists = ::fstatat(folder, file.name.constData(), &info, 0) == 0;
    const QByteArray tempName = file.name + ".tmp";
    // Only the lock holder writes the temporary file, so one found here is a dead writer's.
    ::unlinkat(folder, tempName.constData(), 0);
    CFileDescriptor temp =
        CFileDescriptor::OpenAt(folder, tempName, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (!temp.IsOpen())
        return (errno == EACCES || errno == EPERM) && exists &&
               RewriteInPlace(file, content, info.st_size);
    if (exists) {
        // Another owner is kept where this user may give the file away; else it becomes this
        // user's, as an editor's save does.
        (void)::fchown(temp.Get(), info.st_uid, info.st_gid);
    }
    bool written = (!exists || ::fchmod(temp.Get(), info.st_mode & 07777) == 0) &&
                   temp.WriteAll(content) && ::fsync(temp.Get()) == 0;
    written = temp.Close() && written;
    if (!written || ::renameat(folder, tempName.constData(), folder, file.name.constData()) != 0) {
        const int error = errno;
        ::unlinkat(folder, tempName.constData(), 0);
        errno = error;
        return false;
    }
    // The rename is in place now; a failed flush of the folder still fails the change,
    // since it may not survive a crash.
    return SyncFolder(file.folder);
}

bool Changes(const CRegistryHive& hive, const std::vector<Change>& changes) {
    CRegistryHive changed = hive;
    for (const Change& change : changes)
        change(changed);
    return changed.IsModified();
}

LONG Commit(const std::vector<Change>& changes) {
    HiveFile file = OpenHive(false);
    FileHive current;
    LONG result = ReadHive(file, current);
    // A change that changes nothing takes no lock, so another process's lock never holds it up.
    if (result != ERROR_SUCCESS || !Changes(*current.hive, changes))
        return result;
    // The first change makes the folder.
    if (!file.folder.IsOpen())
        file = OpenHive(true);
    if (!file.folder.IsOpen())
        return Failed(file.error);
    const std::optional<CFileDescriptor> lock = LockFor(file);
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
        return Failed(EFBIG, ERROR_FILE_TOO_LARGE);
    return ReplaceFile(file, content) ? ERROR_SUCCESS : Failed(errno);
}

// The hive as the key sees it: the file with the key's held-back changes applied.
LONG Load(HKEY hKey, std::shared_ptr<const CRegistryHive>& hive) {
    FileHive current;
    // The file's version and content are those of the end of its links, so the cache serves
    // reads and changes alike.
    const LONG result = ReadHive(OpenHive(false), current);
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
        if (key->pending && !hKey->pending) {
            if (const HiveFile file = OpenHive(true); !file.folder.IsOpen())
                return Failed(file.error);
        }
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
    const HiveFile file = OpenHive(false);
    struct stat info;
    return file.folder.IsOpen() &&
           ::fstatat(file.folder.Get(), file.name.constData(), &info, 0) == 0 &&
           info.st_size > kMaxHiveSize;
}

QString CRegistry::ReadFailure() {
    FileHive current;
    const LONG result = ReadHive(OpenHive(false), current);
    return result == ERROR_SUCCESS || result == ERROR_FILE_TOO_LARGE ? QString() : LastFailure();
}

QString CRegistry::LastFailure() {
    if (g_lastError == EWOULDBLOCK)
        return QStringLiteral("another program holds its lock");
    return QString::fromLocal8Bit(std::strerror(g_lastError));
}
