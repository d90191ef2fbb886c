#include "CRegistry.h"

#include "CConfigFolder.h"
#include "CRegistryHive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
using Change = std::function<void(CRegistryHive&)>;
using Transaction = std::vector<Change>;
} // namespace

struct HKEY__ {
    QString path;
    bool writable;
    // Changes held back for RegCreateKeyTransacted, shared by the keys below the one it made.
    std::shared_ptr<Transaction> pending;
};

namespace {

HKEY__ g_localMachine{QStringLiteral("HKEY_LOCAL_MACHINE"), true, nullptr};

template <typename Call> auto RetryOnSignal(Call call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

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

// A missing file reads as an empty hive; any other failure is one. pMode receives the
// file's permission bits, or stays empty when there is no file.
bool ReadHiveFile(const QString& path, QByteArray& content,
                  std::optional<mode_t>* pMode = nullptr) {
    content.clear();
    const int fd =
        RetryOnSignal([&] { return ::open(QFile::encodeName(path), O_RDONLY | O_CLOEXEC); });
    if (fd < 0)
        return errno == ENOENT;
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (pMode != nullptr)
        *pMode = info.st_mode & 07777;
    char buffer[65536];
    for (;;) {
        const ssize_t n = RetryOnSignal([&] { return ::read(fd, buffer, sizeof buffer); });
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        content.append(buffer, n);
    }
}

bool WriteAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = RetryOnSignal(
            [&] { return ::write(fd, bytes.constData() + done, size_t(bytes.size() - done)); });
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool SyncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

// The file a change replaces: the hive, or the end of its chain of links (empty for a loop).
QString ChangedFile() {
    QString path = CConfigFolder::HivePath();
    for (int hop = 0; hop < 40; ++hop) {
        const QFileInfo info(path);
        if (!info.isSymLink())
            return path;
        path = info.symLinkTarget();
    }
    return {};
}

// The exclusive lock that serializes every change of the file, or -1. The folder is made
// here, as this is the first thing any change needs.
int LockFor(const QString& file) {
    if (file.isEmpty() || !QDir().mkpath(QFileInfo(file).absolutePath()))
        return -1;
    const QByteArray lockPath = QFile::encodeName(file + QStringLiteral(".lock"));
    const int fd = RetryOnSignal(
        [&] { return ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); });
    if (fd >= 0 && RetryOnSignal([fd] { return ::flock(fd, LOCK_EX); }) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Writes content into a temporary file beside the file and renames it over the file.
bool ReplaceFile(const QString& file, const QByteArray& content, std::optional<mode_t> mode) {
    const QByteArray path = QFile::encodeName(file);
    const QByteArray tempPath = path + ".tmp";
    // Only the lock holder writes the temporary file, so one found here is a dead writer's.
    ::unlink(tempPath.constData());
    const int fd = RetryOnSignal([&] {
        return ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    });
    if (fd < 0)
        return false;
    bool written = (!mode || ::fchmod(fd, *mode) == 0) && WriteAll(fd, content) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(tempPath.constData(), path.constData()) != 0) {
        ::unlink(tempPath.constData());
        return false;
    }
    // The rename is in place now; a failed flush of the folder still fails the change,
    // since it may not survive a crash.
    return SyncFolder(QFileInfo(file).absolutePath());
}

LONG Commit(const Transaction& changes) {
    const QString file = ChangedFile();
    const int lock = LockFor(file);
    if (lock < 0)
        return ERROR_REGISTRY_IO_FAILED;
    const auto unlock = qScopeGuard([lock] { ::close(lock); });
    QByteArray before;
    std::optional<mode_t> mode;
    if (!ReadHiveFile(file, before, &mode))
        return ERROR_REGISTRY_IO_FAILED;
    CRegistryHive hive = CRegistryHive::Parse(before);
    for (const Change& change : changes)
        change(hive);
    const QByteArray after = hive.Serialize();
    if (after == before)
        return ERROR_SUCCESS;
    return ReplaceFile(file, after, mode) ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

// The hive as the key sees it: the file with the key's held-back changes applied.
bool Load(HKEY hKey, CRegistryHive& hive) {
    QByteArray content;
    if (!ReadHiveFile(CConfigFolder::HivePath(), content))
        return false;
    hive = CRegistryHive::Parse(content);
    if (hKey->pending) {
        for (const Change& change : *hKey->pending)
            change(hive);
    }
    return true;
}

// Applies one change: held back when the key belongs to a transaction, else written now.
LONG ApplyChange(HKEY hKey, Change change) {
    if (hKey->pending) {
        hKey->pending->push_back(std::move(change));
        return ERROR_SUCCESS;
    }
    return Commit({std::move(change)});
}

} // namespace

const HKEY HKEY_LOCAL_MACHINE = &g_localMachine;

LONG CRegistry::CreateKey(HKEY hKey, const QString& subKey, HKEY* phkResult, DWORD* pdwDisposition,
                          bool transacted) {
    if (phkResult == nullptr)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (hKey == nullptr)
        return ERROR_INVALID_HANDLE;
    if (!hKey->writable)
        return ERROR_ACCESS_DENIED;
    const std::optional<QString> path = JoinPath(hKey->path, subKey);
    if (!path)
        return ERROR_BAD_PATHNAME;
    CRegistryHive hive;
    if (!Load(hKey, hive))
        return ERROR_REGISTRY_IO_FAILED;
    const bool existed = hive.HasKey(*path);
    auto key = std::make_unique<HKEY__>(HKEY__{*path, true, hKey->pending});
    if (transacted && !key->pending)
        key->pending = std::make_shared<Transaction>();
    if (!existed) {
        // A held-back creation would otherwise only fail at the close, long after the caller
        // was told that the key is there.
        if (key->pending && !hKey->pending) {
            const int lock = LockFor(ChangedFile());
            if (lock < 0)
                return ERROR_REGISTRY_IO_FAILED;
            ::close(lock);
        }
        const LONG result =
            ApplyChange(key.get(), [keyPath = *path](CRegistryHive& h) { h.AddKey(keyPath); });
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
    if (phkResult == nullptr)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (hKey == nullptr)
        return ERROR_INVALID_HANDLE;
    const std::optional<QString> path = JoinPath(hKey->path, subKey);
    if (!path)
        return ERROR_BAD_PATHNAME;
    CRegistryHive hive;
    if (!Load(hKey, hive))
        return ERROR_REGISTRY_IO_FAILED;
    if (!hive.HasKey(*path))
        return ERROR_FILE_NOT_FOUND;
    *phkResult = new HKEY__{*path, false, hKey->pending};
    return ERROR_SUCCESS;
}

LONG CRegistry::RegQueryValueEx(HKEY hKey, const QByteArray& valueName, char* pData,
                                DWORD* pcbData) {
    if (hKey == nullptr)
        return ERROR_INVALID_HANDLE;
    if (pcbData == nullptr)
        return ERROR_INVALID_PARAMETER;
    CRegistryHive hive;
    if (!Load(hKey, hive))
        return ERROR_REGISTRY_IO_FAILED;
    const std::optional<QByteArray> text = hive.Value(hKey->path, valueName);
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
    if (key->pending && key->pending.use_count() == 1 && !key->pending->empty())
        return Commit(*key->pending);
    return ERROR_SUCCESS;
}
