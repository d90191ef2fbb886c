// Preloaded into a helper process: logs each fsync and rename, with the paths they touch, to
// the file named by BUMPLE_FSYNC_LOG, so that a test sees that the hive's data and folder are
// flushed, and in which order. BUMPLE_FAULT makes the file system fail as some do: "nolock",
// no locks (ENOLCK); "nfs", no lock on what is open only for reading (EBADF).

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Log(const std::string& line) {
    const char* path = std::getenv("BUMPLE_FSYNC_LOG");
    if (path == nullptr)
        return;
    if (FILE* log = std::fopen(path, "a")) {
        std::fputs((line + "\n").c_str(), log);
        std::fclose(log);
    }
}

std::string PathOf(int fd) {
    char target[4096];
    const ssize_t n =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    return n > 0 ? std::string(target, size_t(n)) : std::string("?");
}

const std::string g_fault = std::getenv("BUMPLE_FAULT") ? std::getenv("BUMPLE_FAULT") : "";

template <typename Function> Function Next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd) {
    static const auto next = Next<int (*)(int)>("fsync");
    const int result = next(fd);
    Log("fsync " + PathOf(fd) + (result == 0 ? "" : " failed"));
    return result;
}

extern "C" int renameat(int fromAt, const char* from, int toAt, const char* to) {
    static const auto next = Next<int (*)(int, const char*, int, const char*)>("renameat");
    const int result = next(fromAt, from, toAt, to);
    Log("rename " + PathOf(fromAt) + "/" + from + " " + PathOf(toAt) + "/" + to +
        (result == 0 ? "" : " failed"));
    return result;
}

extern "C" int flock(int fd, int operation) {
    static const auto next = Next<int (*)(int, int)>("flock");
    if (g_fault == "nolock")
        return errno = ENOLCK, -1;
    const bool readOnly = (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY;
    return g_fault == "nfs" && readOnly ? (errno = EBADF, -1) : next(fd, operation);
}
