#include "CBumpleApp.h"
#include "CCommandLineInfo.h"
#include "CConfigFolder.h"
#include "CQuitSignals.h"
#include "CSingleInstance.h"
#include "Resources.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

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

// One Bumple a settings folder and display. The folder is named by its real path, so that
// two spellings of one folder are one key.
QByteArray InstanceKey() {
    const QByteArray folder = CConfigFolder::Path();
    char* pReal = realpath(folder.constData(), nullptr);
    QByteArray key = pReal != nullptr ? QByteArray(pReal) : folder;
    std::free(pReal);
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    key += wayland.isEmpty() ? "\nx11:" + qgetenv("DISPLAY") : "\nwayland:" + wayland;
    return key;
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

    // A later start hands its document (or none) over to the Bumple that runs, which shows
    // its form, and ends.
    CSingleInstance instance(InstanceKey());
    const QString document = early.m_strFileName.isEmpty()
                                 ? QString()
                                 : QFileInfo(early.m_strFileName).absoluteFilePath();
    switch (instance.Claim(QFile::encodeName(document))) {
    case CSingleInstance::Outcome::HandedOver:
        return 0;
    case CSingleInstance::Outcome::NoAnswer:
        std::fputs("bumple: the Bumple that runs with these settings does not answer\n", stderr);
        return 1;
    case CSingleInstance::Outcome::First:
    case CSingleInstance::Outcome::Alone:
        break;
    }

    g_previousHandler = qInstallMessageHandler(OnOpeningDisplay);
    QApplication application(argc, argv);
    ReleaseHeldMessages();
    QApplication::setApplicationName(QStringLiteral("Bumple"));
    QApplication::setDesktopFileName(QStringLiteral("example.quellmoor.Bumple"));
    // The main window is hidden most of the time: closing a dialog must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    CQuitSignals quitSignals(ID_EXIT);
    CBumpleApp app;
    if (!app.InitInstance(QApplication::arguments())) {
        app.ExitInstance();
        return 1;
    }
    // Later starts wait, bounded, while this one starts up.
    QObject::connect(&instance, &CSingleInstance::Received, [&app](const QByteArray& document) {
        app.OnSecondLaunch(QFile::decodeName(document));
    });
    instance.Listen();
    // A signal handled while start-up showed a message box has already closed the program.
    if (!quitSignals.Received())
        QApplication::exec();
    return app.ExitInstance();
}
