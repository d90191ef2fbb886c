// The toolkit's floor for the benchmarks: the least a Qt 6 tray program does.
// One QSystemTrayIcon with one QMenu and one tip; no window is shown.
//   minimal_tray          the icon only (start-up and memory)
//   minimal_tray --tick   also rewrites the tip once a second from a QTimer with a
//                         countdown text like the program's ("Bumple in 59:59"), the
//                         comparison for the idle cost.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstring>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const bool tick = argc > 1 && std::strcmp(argv[1], "--tick") == 0;

    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setBrush(Qt::green);
        painter.drawEllipse(1, 1, 14, 14);
    }

    QMenu menu;
    menu.addAction(QStringLiteral("E&xit"), &app, &QCoreApplication::quit);

    QSystemTrayIcon icon{QIcon(pixmap)};
    icon.setContextMenu(&menu);
    icon.setToolTip(QStringLiteral("Bumple"));
    icon.show();

    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    int left = 3600;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        left = left > 1 ? left - 1 : 3600;
        const int minutes = left / 60;
        const QString text = QString::asprintf("%2d:%02d", minutes, left - minutes * 60);
        icon.setToolTip(QStringLiteral("Bumple in ") + text);
    });
    if (tick)
        timer.start(1000);
    return QApplication::exec();
}
