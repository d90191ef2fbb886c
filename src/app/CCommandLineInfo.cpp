#include "CCommandLineInfo.h"

namespace {
// The command an option names, FileNew for none; --json and --follow also set their flag.
CCommandLineInfo::ShellCommand RemoteCommand(const QString& option, CCommandLineInfo* pInfo) {
    if (option == QLatin1String("--json"))
        pInfo->m_bJson = true;
    else if (option == QLatin1String("--follow"))
        pInfo->m_bFollow = true;
    else if (option != QLatin1String("--status"))
        return option == QLatin1String("--probe-now") ? CCommandLineInfo::AppProbeNow
               : option == QLatin1String("--history") ? CCommandLineInfo::AppHistory
               : option == QLatin1String("--quit")    ? CCommandLineInfo::AppQuit
                                                      : CCommandLineInfo::FileNew;
    return CCommandLineInfo::AppStatus;
}
} // namespace

void CCommandLineInfo::ParseCommandLine(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (!argument.startsWith(QLatin1Char('-'))) {
            // Later names are ignored, as the framework ignores them.
            if (m_strFileName.isEmpty()) {
                m_strFileName = argument;
                if (m_nShellCommand == FileNew)
                    m_nShellCommand = FileOpen;
            }
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            m_nShellCommand = AppHelp;
        } else if (argument == QLatin1String("--version") || argument == QLatin1String("-v")) {
            if (m_nShellCommand != AppHelp)
                m_nShellCommand = AppVersion;
        } else if (const ShellCommand command = RemoteCommand(argument, this); command != FileNew) {
            if (m_nShellCommand != AppHelp && m_nShellCommand != AppVersion)
                m_nShellCommand = command;
        } else {
            m_unknownOptions.append(argument);
        }
    }
}

QByteArray CCommandLineInfo::UsageText() {
    return QByteArrayLiteral(
        "Usage: bumple [options] [document]\n"
        "Keeps a dial-up Internet connection alive from the notification area.\n"
        "\n"
        "Options:\n"
        "  -h, --help     print this text and exit\n"
        "  -v, --version  print the version and exit\n"
        "\n"
        "Commands to the Bumple that runs with these settings on this display:\n"
        "  --status       print its state; exit 0 when the last probe was answered (or\n"
        "                 none went yet), 1 when it failed, 2 when the link is down,\n"
        "                 3 when no Bumple runs or it does not answer\n"
        "  --json         print the state as one JSON object for waybar (text, tooltip,\n"
        "                 class, alt)\n"
        "  --follow       print the state again on every change, one line each\n"
        "  --probe-now    probe at once; exit 1 when Bumple is stopped\n"
        "  --history      open the History window\n"
        "  --quit         end Bumple, as Exit does\n"
        "  and Qt's own options, such as -platform NAME, -style NAME, -display DISPLAY\n"
        "\n"
        "A document name shows the main window at launch; the file must be readable.\n"
        "The settings are in ${XDG_CONFIG_HOME:-~/.config}/Quellmoor Software/registry.reg\n"
        "(or in $BUMPLE_CONFIG_DIR). See bumple(1).\n");
}

QByteArray CCommandLineInfo::VersionText() {
    return QByteArrayLiteral("Bumple " BUMPLE_VERSION "\n");
}
