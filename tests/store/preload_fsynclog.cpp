// Preloaded into a helper process: logs each fsync and rename, with the paths they touch, to
// the file named by BUMPLE_FSYNC_LOG, so that a test sees that the hive's data and folder are
// flushed, and in which order.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

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

extern "C" int rename(const char* from, const char* to) {
    static const auto next = Next<int (*)(const char*, const char*)>("rename");
    const int result = next(from, to);
    Log(std::string("rename ") + from + " " + to + (result == 0 ? "" : " failed"));
    return result;
}
