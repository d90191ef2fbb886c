#include "CBumpleApp.h"
#include "CCommandLineInfo.h"
#include "CQuitSignals.h"
#include "Resources.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<HeldMessage> g_heldMessages;
QtMessageHandler g_previousHandler = nullptr;

QByteArray DisplayVariable(const char* name) {
    const QByteArray value = qgetenv(name);
    return value.isEmpty() ? QByteArray(name) + " unset" : QByteArray(name) + "=" + value;
}

// Qt gives up on a missing or unreachable display with abort() and advice to reinstall the
// program. Its messages are held while the display is opened: on that failure one line
// says what is wrong and the program ends normally; otherwise they are passed on.
void OnOpeningDisplay(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        g_heldMessages.push_back({type, context.category, text});
        return;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        std::fputs("bumple: no display to open: neither DISPLAY nor WAYLAND_DISPLAY is set\n",
                   stderr);
    else
        std::fprintf(stderr, "bumple: cannot open the display (%s, %s)\n",
                     DisplayVariable("DISPLAY").constData(),
                     DisplayVariable("WAYLAND_DISPLAY").constData());
    std::fflush(stderr);
    std::_Exit(1);
}

void ReleaseHeldMessages() {
    qInstallMessageHandler(g_previousHandler);
    for (const HeldMessage& message : g_heldMessages) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
        qt_message_output(message.type, context, message.text);
    }
    g_heldMessages.clear();
}
} // namespace

int main(int argc, char* argv[]) {
    // --help and --version answer before any display is opened.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    CCommandLineInfo early;
    early.ParseCommandLine(arguments);
    if (early.m_nShellCommand == CCommandLineInfo::AppHelp ||
        early.m_nShellCommand == CCommandLineInfo::AppVersion) {
        const QByteArray text = early.m_nShellCommand == CCommandLineInfo::AppHelp
                                    ? CCommandLineInfo::UsageText()
                                    : CCommandLineInfo::VersionText();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    g_previousHandler = qInstallMessageHandler(OnOpeningDisplay);
    QApplication application(argc, argv);
    ReleaseHeldMessages();
    QApplication::setApplicationName(QStringLiteral("Bumple"));
    QApplication::setDesktopFileName(QStringLiteral("example.quellmoor.Bumple"));
    // The main window is hidden most of the time: closing a dialog must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    const CQuitSignals quitSignals(ID_EXIT);
    CBumpleApp app;
    if (!app.InitInstance(QApplication::arguments())) {
        app.ExitInstance();
        return 1;
    }
    // A signal handled while start-up showed a message box has already closed the program.
    if (!quitSignals.m_bReceived)
        QApplication::exec();
    return app.ExitInstance();
}
