#pragma once

#include <QByteArray>

class CCommandLineInfo;

// A command-line command carried out by the Bumple that runs with the same settings on the
// same display. It needs no display of its own: the display is the one the environment (or
// -display, -platform) names. Every answer comes within a second or is reported as none.
class CRemoteCommand {
public:
    // Prints the answer and returns the exit code: for --status that of CStatusText; else 0
    // done, 1 refused; 3 when no Bumple runs or it does not answer.
    static int Run(const CCommandLineInfo& info, const QByteArray& platformOption,
                   const QByteArray& displayOption);
};
