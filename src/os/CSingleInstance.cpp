#include "CSingleInstance.h"

#include <QCryptographicHash>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>

namespace {
// How long a later start tries to reach the holder, and how long the holder waits for a
// request to be complete.
constexpr int kHandOverMs = 5000;
constexpr qsizetype kMaxRequest = 64 * 1024;

// A folder only this user can enter, else false.
bool IsPrivateFolder(const QByteArray& path) {
    struct stat info = {};
    return !path.isEmpty() && path.startsWith('/') && lstat(path.constData(), &info) == 0 &&
           S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 077) == 0;
}

// $XDG_RUNTIME_DIR, or a folder of this user's own in /tmp when there is none (or its path
// leaves no room for the socket's name); empty when neither is private.
QByteArray RuntimeFolder() {
    // "/bumple-", 24 hex digits, ".socket" and the terminating zero
    constexpr size_t kRoomForName = sizeof(sockaddr_un::sun_path) - (8 + 24 + 7 + 1);
    QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"); // not const: returned by move
    if (size_t(runtime.size()) <= kRoomForName && IsPrivateFolder(runtime))
        return runtime;
    const QByteArray own = "/tmp/bumple-" + QByteArray::number(getuid());
    if (mkdir(own.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    return IsPrivateFolder(own) ? own : QByteArray();
}

bool ToAddress(const QByteArray& path, sockaddr_un* pAddress) {
    *pAddress = {};
    pAddress->sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof pAddress->sun_path)
        return false;
    std::memcpy(pAddress->sun_path, path.constData(), size_t(path.size()));
    return true;
}
} // namespace

CSingleInstance::CSingleInstance(const QByteArray& key) {
    const QByteArray folder = RuntimeFolder();
    if (folder.isEmpty())
        return;
    const QByteArray name =
        QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24);
    m_lockPath = folder + "/bumple-" + name + ".lock";
    m_socketPath = folder + "/bumple-" + name + ".socket";
}

CSingleInstance::~CSingleInstance() {
    if (m_listen.IsOpen())
        unlink(m_socketPath.constData());
}

CSingleInstance::Outcome CSingleInstance::Claim(const QByteArray& request) {
    if (m_lockPath.isEmpty())
        return Outcome::Alone;
    m_lock = CFileDescriptor::Open(m_lockPath, O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    if (!m_lock.IsOpen())
        return Outcome::Alone;
    // The holder may be starting (no socket yet) or ending (the lock is about to be free).
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (TryLock())
            return Outcome::First;
        if (HandOver(request))
            return Outcome::HandedOver;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 >
            kHandOverMs)
            return Outcome::NoAnswer;
        const timespec step{0, 50 * 1000 * 1000};
        nanosleep(&step, nullptr);
    }
}

bool CSingleInstance::TryLock() {
    if (flock(m_lock.Get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    // A socket left by a holder that crashed is replaced.
    sockaddr_un address{};
    unlink(m_socketPath.constData());
    m_listen = CFileDescriptor(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (m_listen.IsOpen() && ToAddress(m_socketPath, &address) &&
        bind(m_listen.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        listen(m_listen.Get(), 8) == 0)
        return true;
    // Runs all the same; later starts find no socket and give up after their wait.
    m_listen.Close();
    return true;
}

bool CSingleInstance::HandOver(const QByteArray& request) const {
    sockaddr_un address{};
    if (!ToAddress(m_socketPath, &address))
        return false;
    const CFileDescriptor connection(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!connection.IsOpen())
        return false;
    const int fd = connection.Get();
    const timeval bound{kHandOverMs / 1000, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    bool taken = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    for (qsizetype sent = 0; taken && sent < request.size();) {
        const ssize_t n =
            send(fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        taken = n > 0;
        sent += n;
    }
    char answer[2] = {};
    taken = taken && shutdown(fd, SHUT_WR) == 0 && recv(fd, answer, 2, MSG_WAITALL) == 2 &&
            std::memcmp(answer, "ok", 2) == 0;
    return taken;
}

void CSingleInstance::Listen() {
    if (!m_listen.IsOpen())
        return;
    auto* pNotifier = new QSocketNotifier(m_listen.Get(), QSocketNotifier::Read, this);
    connect(pNotifier, &QSocketNotifier::activated, this, &CSingleInstance::OnConnection);
}

void CSingleInstance::OnConnection() {
    for (;;) {
        const int fd = accept4(m_listen.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        auto* pNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        const auto drop = [pNotifier, fd] {
            if (!pNotifier->isEnabled())
                return;
            pNotifier->setEnabled(false);
            pNotifier->deleteLater();
            close(fd);
        };
        // A start that never finishes its request is not waited for.
        QTimer::singleShot(kHandOverMs, pNotifier, drop);
        auto pRequest = std::make_shared<QByteArray>();
        connect(pNotifier, &QSocketNotifier::activated, this, [this, fd, pRequest, drop] {
            char buffer[4096];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return;
            if (n > 0) {
                pRequest->append(buffer, n);
                if (pRequest->size() <= kMaxRequest)
                    return;
            }
            // The whole request: it is taken, and then carried out.
            const bool complete = n == 0;
            if (complete)
                send(fd, "ok", 2, MSG_NOSIGNAL);
            drop();
            if (complete)
                emit Received(*pRequest);
        });
    }
}
