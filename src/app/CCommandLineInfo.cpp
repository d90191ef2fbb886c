#include "CCommandLineInfo.h"

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
        "  and Qt's own options, such as -platform NAME, -style NAME, -display DISPLAY\n"
        "\n"
        "A document name shows the main window at launch; the file must be readable.\n"
        "The settings are in ${XDG_CONFIG_HOME:-~/.config}/Quellmoor Software/registry.reg\n"
        "(or in $BUMPLE_CONFIG_DIR). See bumple(1).\n");
}

QByteArray CCommandLineInfo::VersionText() {
    return QByteArrayLiteral("Bumple " BUMPLE_VERSION "\n");
}
