#include "CSingleInstance.h"

#include "CBoundedWait.h"

#include <QCryptographicHash>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
using std::chrono::milliseconds;
// How long the holder waits for a whole request; how often a later start asks again.
constexpr int kRequestMs = 2000;
constexpr milliseconds kStep{50};
// Requests read at once; more wait in the backlog. Out of descriptors, the listener rests.
constexpr int kMaxConnections = 8;
constexpr int kRestMs = 250;

// "/bumple-", 24 hex digits, ".socket" and the terminating zero
constexpr size_t kRoomForName = sizeof(sockaddr_un::sun_path) - (8 + 24 + 7 + 1);

// A folder of this user's that only this user can enter and write to, else false.
bool IsPrivateFolder(const QByteArray& path) {
    struct stat info = {};
    return !path.isEmpty() && path.startsWith('/') && size_t(path.size()) <= kRoomForName &&
           lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == getuid() && (info.st_mode & 077) == 0 &&
           access(path.constData(), W_OK | X_OK) == 0;
}

QByteArray OwnFolder(const QByteArray& path) {
    mkdir(path.constData(), 0700);
    return IsPrivateFolder(path) ? path : QByteArray();
}

// $XDG_RUNTIME_DIR; else, when there is none or it cannot hold the lock, a folder of this
// user's own in /tmp; else (another user made that one first) one in the cache folder.
// Empty when none of them is private.
QByteArray RuntimeFolder() {
    QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"); // not const: returned by move
    if (IsPrivateFolder(runtime))
        return runtime;
    const QByteArray own = OwnFolder("/tmp/bumple-" + QByteArray::number(getuid()));
    if (!own.isEmpty())
        return own;
    QByteArray cache = qgetenv("XDG_CACHE_HOME");
    if (!cache.startsWith('/'))
        cache = qgetenv("HOME") + "/.cache";
    mkdir(cache.constData(), 0700);
    return OwnFolder(cache + "/bumple");
}

bool ToAddress(const QByteArray& path, sockaddr_un* pAddress) {
    *pAddress = {};
    pAddress->sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof pAddress->sun_path)
        return false;
    std::memcpy(pAddress->sun_path, path.constData(), size_t(path.size()));
    return true;
}

// "host:N.S" as "host:N"; the local host ("" or "unix") as "".
QByteArray X11Display(const QByteArray& name) {
    const qsizetype colon = name.lastIndexOf(':');
    if (colon < 0)
        return name;
    QByteArray host = name.left(colon).toLower();
    if (host == "unix" || host == "unix/")
        host.clear();
    const QByteArray number = name.mid(colon + 1).split('.').value(0);
    return host + ':' + QByteArray::number(number.toUInt());
}

// The socket that Qt's Wayland platform connects to, as a path.
QByteArray WaylandSocket() {
    QByteArray name = qgetenv("WAYLAND_DISPLAY");
    if (name.isEmpty())
        name = "wayland-0";
    return name.startsWith('/') ? name : qgetenv("XDG_RUNTIME_DIR") + '/' + name;
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

QByteArray CSingleInstance::Key(const QByteArray& realFolder, const QString& platform,
                                const QByteArray& displayOption) {
    QByteArray key = realFolder + '\n' + platform.toUtf8() + ':';
    if (platform == QLatin1String("xcb"))
        key += X11Display(displayOption.isEmpty() ? qgetenv("DISPLAY") : displayOption);
    else if (platform == QLatin1String("wayland"))
        key += WaylandSocket();
    return key;
}

CSingleInstance::Outcome CSingleInstance::Claim(CInstanceRequest::Kind kind,
                                                const QByteArray& payload, QByteArray* pAnswer) {
    return Exchange(true, kind, payload, pAnswer, {}, kAnswerWaitMs);
}

CSingleInstance::Outcome CSingleInstance::Ask(CInstanceRequest::Kind kind,
                                              const QByteArray& payload, QByteArray* pAnswer,
                                              const LineHandler& onLine, int waitMs) {
    return Exchange(false, kind, payload, pAnswer, onLine, waitMs);
}

CSingleInstance::Outcome CSingleInstance::Exchange(bool claim, CInstanceRequest::Kind kind,
                                                   const QByteArray& payload, QByteArray* pAnswer,
                                                   const LineHandler& onLine, int waitMs) {
    if (m_lockPath.isEmpty())
        return Outcome::Alone;
    m_lock = CFileDescriptor::Open(m_lockPath, O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    if (!m_lock.IsOpen())
        return Outcome::Alone;
    // A clean-up of the runtime folder spares a file with the sticky bit, and a fresh one.
    fchmod(m_lock.Get(), S_ISVTX | 0600);
    futimens(m_lock.Get(), nullptr);
    // The holder may be starting (no socket yet) or ending (the lock is about to be free).
    const CBoundedWait wait{milliseconds(waitMs)};
    const quint64 deadlineMs = CInstanceRequest::MonotonicMs() + quint64(waitMs);
    const QByteArray frame = CInstanceRequest::Encode(quint8(kind), payload, deadlineMs);
    Outcome outcome = Outcome::NoAnswer;
    wait.Until(kStep, [&] {
        if (flock(m_lock.Get(), LOCK_EX | LOCK_NB) == 0) {
            if (claim)
                TakeSocket();
            else
                m_lock.Close();
            outcome = claim ? Outcome::First : Outcome::NotRunning;
            return true;
        }
        const std::optional<Outcome> answered = TryAsk(frame, wait, pAnswer, onLine);
        outcome = answered.value_or(Outcome::NoAnswer);
        return answered.has_value();
    });
    if (outcome != Outcome::First)
        m_lock.Close();
    return outcome;
}

void CSingleInstance::TakeSocket() {
    // A socket left by a holder that crashed is replaced, and so is an empty folder.
    if (unlink(m_socketPath.constData()) != 0 && errno != ENOENT)
        rmdir(m_socketPath.constData());
    sockaddr_un address{};
    m_listen = CFileDescriptor(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (m_listen.IsOpen() && ToAddress(m_socketPath, &address) &&
        bind(m_listen.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        listen(m_listen.Get(), kMaxConnections) == 0) {
        chmod(m_socketPath.constData(), S_ISVTX | 0600);
        return;
    }
    // Runs all the same; later starts find no socket and give up after their wait.
    m_listen.Close();
}

std::optional<CSingleInstance::Outcome> CSingleInstance::TryAsk(const QByteArray& frame,
                                                                const CBoundedWait& wait,
                                                                QByteArray* pAnswer,
                                                                const LineHandler& onLine) const {
    sockaddr_un address{};
    const CFileDescriptor connection(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!ToAddress(m_socketPath, &address) || !connection.IsOpen())
        return std::nullopt;
    const int fd = connection.Get();
    // Zero would be no bound at all.
    const int sendMs = std::max(1, int(wait.Left().count()));
    const timeval bound{sendMs / 1000, (sendMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return std::nullopt;
    if (!connection.SendAll(frame))
        return Outcome::NoAnswer;
    // Lines may stream for as long as the holder runs; the answer itself is bounded.
    bool streaming = false;
    QByteArray received;
    char buffer[65536];
    for (;;) {
        bool bad = false;
        std::optional<CInstanceRequest::Frame> answer =
            CInstanceRequest::Decode(received, CInstanceRequest::kMaxAnswer, bad);
        if (bad)
            return Outcome::NoAnswer;
        if (answer) {
            using Answer = CInstanceRequest::Answer;
            if (answer->type == quint8(Answer::Line)) {
                streaming = true;
                if (!onLine || !onLine(answer->payload))
                    return Outcome::Done;
                continue;
            }
            if (pAnswer != nullptr)
                *pAnswer = answer->payload;
            return answer->type == quint8(Answer::Done) ? Outcome::Done : Outcome::Refused;
        }
        const int ready = connection.Poll(POLLIN, streaming ? -1 : int(wait.Left().count()));
        const ssize_t n = ready > 0 ? connection.ReadSome(buffer, sizeof buffer) : -1;
        if (n <= 0)
            return Outcome::NoAnswer;
        received.append(buffer, n);
    }
}

void CSingleInstance::Listen() {
    if (!m_listen.IsOpen() || m_pListener != nullptr)
        return;
    m_pListener = new QSocketNotifier(m_listen.Get(), QSocketNotifier::Read, this);
    connect(m_pListener, &QSocketNotifier::activated, this, &CSingleInstance::OnConnection);
}

void CSingleInstance::OnConnection() {
    while (m_nOpen < kMaxConnections) {
        const int fd = accept4(m_listen.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors the connection stays in the backlog: the listener rests
            // instead of being called again at once.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                m_bPaused = true;
                m_pListener->setEnabled(false);
                QTimer::singleShot(kRestMs, this, [this] {
                    m_bPaused = false;
                    Resume();
                });
            }
            return;
        }
        ++m_nOpen;
        auto* pRequest = new CInstanceRequest(CFileDescriptor(fd), kRequestMs, this);
        connect(pRequest, &CInstanceRequest::Ready, this, &CSingleInstance::Received);
        connect(pRequest, &QObject::destroyed, this, [this] {
            --m_nOpen;
            Resume();
        });
    }
    // At the cap: later connections wait in the backlog until one of these ends.
    m_pListener->setEnabled(false);
}

void CSingleInstance::Resume() {
    m_pListener->setEnabled(!m_bPaused && m_nOpen < kMaxConnections);
}
