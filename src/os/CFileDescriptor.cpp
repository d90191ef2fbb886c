#include "CFileDescriptor.h"

#include "CBoundedWait.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

template <typename Call> auto RetryOnSignal(Call call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

} // namespace

CFileDescriptor::CFileDescriptor(CFileDescriptor&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)) {}

CFileDescriptor& CFileDescriptor::operator=(CFileDescriptor&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

CFileDescriptor::~CFileDescriptor() {
    Close();
}

CFileDescriptor CFileDescriptor::Open(const QByteArray& path, int flags, mode_t mode) {
    return OpenAt(AT_FDCWD, path, flags, mode);
}

CFileDescriptor CFileDescriptor::OpenAt(int at, const QByteArray& path, int flags, mode_t mode) {
    CFileDescriptor file;
    file.m_fd =
        RetryOnSignal([&] { return ::openat(at, path.constData(), flags | O_CLOEXEC, mode); });
    return file;
}

bool CFileDescriptor::ReadAll(QByteArray& content, qsizetype limit) const {
    char buffer[65536];
    for (;;) {
        const ssize_t n = RetryOnSignal([&] { return ::read(m_fd, buffer, sizeof buffer); });
        if (n <= 0)
            return n == 0;
        content.append(buffer, n);
        // Grown past the limit while it was read: not read at all.
        if (content.size() > limit)
            return false;
    }
}

bool CFileDescriptor::WriteAll(const QByteArray& bytes) const {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = RetryOnSignal(
            [&] { return ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done)); });
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

ssize_t CFileDescriptor::ReadSome(char* pBuffer, size_t size) const {
    return RetryOnSignal([&] { return ::read(m_fd, pBuffer, size); });
}

int CFileDescriptor::Poll(int fd, short events, int timeoutMs) {
    const CBoundedWait bound{std::chrono::milliseconds(timeoutMs)};
    pollfd watch{fd, events, 0};
    const int ready = RetryOnSignal(
        [&] { return ::poll(&watch, 1, timeoutMs < 0 ? -1 : int(bound.Left().count())); });
    return ready > 0 ? watch.revents : ready;
}

ssize_t CFileDescriptor::SendSome(const char* pBytes, size_t size) const {
    return RetryOnSignal([&] { return ::send(m_fd, pBytes, size, MSG_NOSIGNAL); });
}

ssize_t CFileDescriptor::ReceiveSome(char* pBuffer, size_t size, int flags) const {
    return RetryOnSignal([&] { return ::recv(m_fd, pBuffer, size, flags); });
}

bool CFileDescriptor::SendAll(const QByteArray& bytes) const {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = SendSome(bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool CFileDescriptor::Close() {
    // Linux frees the descriptor even when close fails, so it is never closed twice.
    return m_fd < 0 || ::close(std::exchange(m_fd, -1)) == 0;
}
