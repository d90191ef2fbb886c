#include "CBumpleApp.h"
#include "CCommandLineInfo.h"
#include "CConfigFolder.h"
#include "CFramework.h"
#include "CPlatform.h"
#include "CQuitSignals.h"
#include "CRemoteCommand.h"
#include "CSingleInstance.h"
#include "CX11Display.h"
#include "Resources.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
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

// The value of one of Qt's own options, such as the display its -display names.
QByteArray QtOption(int argc, char* argv[], const QByteArray& name) {
    for (int i = 1; i + 1 < argc; ++i)
        if (argv[i] == "-" + name || argv[i] == "--" + name)
            return argv[i + 1];
    return {};
}

// What lets the running Bumple's window come to the front for the launcher that started
// this one.
QByteArray ActivationToken() {
    const QByteArray wayland = qgetenv("XDG_ACTIVATION_TOKEN");
    return wayland.isEmpty() ? qgetenv("DESKTOP_STARTUP_ID") : wayland;
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

    // Read before Qt takes them from the command line and the environment.
    const QByteArray displayOption = QtOption(argc, argv, "display");
    // Commands for the Bumple that runs need no display of their own.
    if (early.IsRemoteCommand())
        return CRemoteCommand::Run(early, QtOption(argc, argv, "platform"), displayOption);
    const QByteArray token = ActivationToken();
    const QByteArray startupId = qgetenv("DESKTOP_STARTUP_ID");

    g_previousHandler = qInstallMessageHandler(OnOpeningDisplay);
    QApplication application(argc, argv);
    ReleaseHeldMessages();
    QApplication::setApplicationName(QStringLiteral("Bumple"));
    QApplication::setDesktopFileName(QStringLiteral("example.quellmoor.Bumple"));
    // The main window is hidden most of the time: closing a dialog must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // One Bumple a settings folder and display: a later start hands its document (or none)
    // over to the Bumple that runs, which shows its form, and ends.
    CCommandLineInfo cmdInfo;
    cmdInfo.ParseCommandLine(QApplication::arguments());
    const QString document = cmdInfo.m_strFileName.isEmpty()
                                 ? QString()
                                 : QFileInfo(cmdInfo.m_strFileName).absoluteFilePath();
    CConfigFolder::Make();
    CSingleInstance instance(CSingleInstance::Key(CConfigFolder::RealPath(CConfigFolder::Path()),
                                                  QGuiApplication::platformName(), displayOption));
    QByteArray answer;
    switch (instance.Claim(CInstanceRequest::Kind::Show, QFile::encodeName(document) + '\0' + token,
                           &answer)) {
    case CSingleInstance::Outcome::Done:
        CX11Display::EndStartup(startupId);
        return 0;
    case CSingleInstance::Outcome::Refused: // the running Bumple tells the user why
        CX11Display::EndStartup(startupId);
        std::fprintf(stderr, "%s\n", answer.constData());
        return 1;
    case CSingleInstance::Outcome::NoAnswer:
    case CSingleInstance::Outcome::NotRunning: {
        const QString text =
            QStringLiteral("Bumple: The Bumple that runs with these settings does not answer.");
        std::fprintf(stderr, "%s\n", qPrintable(text));
        CPlatform::Framework().MessageBox(text);
        return 1;
    }
    case CSingleInstance::Outcome::First:
    case CSingleInstance::Outcome::Alone:
        break;
    }

    CQuitSignals quitSignals(ID_EXIT);
    CBumpleApp app;
    // Later starts are answered from here on, even while a start-up message box is open.
    QObject::connect(&instance, &CSingleInstance::Received, &application,
                     [&app](CInstanceRequest* pRequest) { app.OnRequest(pRequest); });
    instance.Listen();
    if (!app.InitInstance(QApplication::arguments())) {
        app.ExitInstance();
        return 1;
    }
    // Started hidden, the program shows no window that would end the launcher's busy cursor.
    CX11Display::EndStartup(startupId);
    // A signal handled while start-up showed a message box has already closed the program.
    if (!quitSignals.Received())
        QApplication::exec();
    return app.ExitInstance();
}
