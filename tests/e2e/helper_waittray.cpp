// Waits until a system tray is available on the display, or gives up at a deadline.
// Exit code 0: a tray is there; 1: none appeared in time.
#include <QApplication>
#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <QThread>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const int limitMs = argc > 1 ? std::atoi(argv[1]) : 30000;
    QElapsedTimer clock;
    clock.start();
    // The tray selection owner is seen only through X events, so the loop has to run.
    while (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (clock.elapsed() > limitMs) {
            std::fprintf(stderr, "no system tray after %d ms\n", limitMs);
            return 1;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(50);
    }
    std::printf("system tray available after %lld ms\n", static_cast<long long>(clock.elapsed()));
    return 0;
}
