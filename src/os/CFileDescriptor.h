#pragma once

#include <QByteArray>

#include <sys/types.h>

// An open file descriptor, closed when its owner goes. Calls that a signal interrupts are
// made again.
class CFileDescriptor {
public:
    CFileDescriptor() = default;
    // Takes over a descriptor (a socket, say); -1 for none.
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    CFileDescriptor(CFileDescriptor&& other) noexcept;
    CFileDescriptor& operator=(CFileDescriptor&& other) noexcept;
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    ~CFileDescriptor();

    // As open(2); the result is closed (IsOpen false, errno set) when it fails.
    static CFileDescriptor Open(const QByteArray& path, int flags, mode_t mode = 0);
    // As openat(2): path relative to the open folder at (or AT_FDCWD).
    static CFileDescriptor OpenAt(int at, const QByteArray& path, int flags, mode_t mode = 0);
    bool IsOpen() const { return m_fd >= 0; }
    int Get() const { return m_fd; }
    // Appends what is left to read; false on an error or when content grows past limit.
    bool ReadAll(QByteArray& content, qsizetype limit) const;
    bool WriteAll(const QByteArray& bytes) const;
    // One read(2), or one send(2) that never raises SIGPIPE: as those calls, -1 with errno.
    ssize_t ReadSome(char* pBuffer, size_t size) const;
    ssize_t SendSome(const char* pBytes, size_t size) const;
    // One recv(2) with these flags.
    ssize_t ReceiveSome(char* pBuffer, size_t size, int flags) const;
    // The poll(2) events of these that are due within timeoutMs (-1: no bound), 0 when none
    // are, -1 on an error.
    int Poll(short events, int timeoutMs) const { return Poll(m_fd, events, timeoutMs); }
    // The same for a descriptor that another owner holds.
    static int Poll(int fd, short events, int timeoutMs);
    // Sends everything, on a socket that blocks; false when the peer is gone or it times out.
    bool SendAll(const QByteArray& bytes) const;
    // Closes it now. False when close reports an error: a write it held back failed.
    bool Close();

private:
    int m_fd = -1;
};
