#pragma once

#include <QString>
#include <QStringList>

// The framework's standard parsing of the command line, as this platform spells it: an
// argument that begins with '-' is an option, never a document name; the first other
// argument names the document to open. Options it does not know are collected, not acted on.
class CCommandLineInfo {
public:
    enum ShellCommand {
        FileNew,
        FileOpen,
        AppHelp,
        AppVersion,
        // Commands to the Bumple that runs, for scripts and status bars.
        AppStatus,
        AppProbeNow,
        AppHistory,
        AppQuit
    };
    // Whether the command goes to the Bumple that runs rather than starting one.
    bool IsRemoteCommand() const { return m_nShellCommand >= AppStatus; }

    // arguments.at(0) is the program.
    void ParseCommandLine(const QStringList& arguments);

    // What --help and --version print.
    static QByteArray UsageText();
    static QByteArray VersionText();

    ShellCommand m_nShellCommand = FileNew;
    QString m_strFileName;
    QStringList m_unknownOptions;
    bool m_bJson = false;   // --status in the form waybar reads
    bool m_bFollow = false; // --status, again on every change
};
