#include "CBumpleApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Bumple"));
    QApplication::setDesktopFileName(QStringLiteral("bumple"));
    // The main window is hidden most of the time: closing a dialog must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    CBumpleApp app;
    if (!app.InitInstance(QApplication::arguments())) {
        app.ExitInstance();
        return 1;
    }
    QApplication::exec();
    return app.ExitInstance();
}
