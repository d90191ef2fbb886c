#include "CRemoteCommand.h"

#include "CCommandLineInfo.h"
#include "CConfigFolder.h"
#include "CSingleInstance.h"
#include "CStatusText.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>

namespace {
constexpr int kAnswerMs = 1000;

// The platforms the running Bumple may use on this display, in the order Qt prefers them.
QStringList Platforms(const QByteArray& platformOption, const QByteArray& displayOption) {
    QByteArray chosen = platformOption.isEmpty() ? qgetenv("QT_QPA_PLATFORM") : platformOption;
    if (!chosen.isEmpty())
        return {QString::fromLatin1(chosen.split(';').constFirst().split(':').constFirst())};
    QStringList platforms;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        platforms.append(QStringLiteral("wayland"));
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !displayOption.isEmpty() || platforms.isEmpty())
        platforms.append(QStringLiteral("xcb"));
    return platforms;
}

void Print(const QByteArray& text) {
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

QJsonObject StatusOf(const QByteArray& answer) {
    return QJsonDocument::fromJson(answer).object();
}

// What a status bar shows when there is no Bumple to ask.
int NoBumple(const CCommandLineInfo& info, const char* why) {
    std::fprintf(stderr, "bumple: %s\n", why);
    if (info.m_nShellCommand == CCommandLineInfo::AppStatus && info.m_bJson)
        Print(CStatusText::Waybar(
            {{QStringLiteral("state"), QStringLiteral("stopped")},
             {QStringLiteral("name"), QStringLiteral("(Bumple does not run)")}}));
    return CStatusText::Unknown;
}
} // namespace

int CRemoteCommand::Run(const CCommandLineInfo& info, const QByteArray& platformOption,
                        const QByteArray& displayOption) {
    using Kind = CInstanceRequest::Kind;
    Kind kind = Kind::Status;
    if (info.m_nShellCommand == CCommandLineInfo::AppProbeNow)
        kind = Kind::ProbeNow;
    else if (info.m_nShellCommand == CCommandLineInfo::AppHistory)
        kind = Kind::History;
    else if (info.m_nShellCommand == CCommandLineInfo::AppQuit)
        kind = Kind::Quit;
    else if (info.m_bFollow)
        kind = Kind::Follow;
    const auto render = [&info](const QByteArray& answer) {
        const QJsonObject status = StatusOf(answer);
        return info.m_bJson     ? CStatusText::Waybar(status)
               : info.m_bFollow ? CStatusText::Line(status)
                                : CStatusText::Text(status);
    };
    // A change the chosen form does not show prints no line.
    bool streamed = false;
    QByteArray last;
    const auto onLine = [&](const QByteArray& line) {
        streamed = true;
        const QByteArray text = render(line);
        if (text != last)
            Print(text);
        last = text;
        return std::ferror(stdout) == 0;
    };

    for (const QString& platform : Platforms(platformOption, displayOption)) {
        CSingleInstance instance(CSingleInstance::Key(
            CConfigFolder::RealPath(CConfigFolder::Path()), platform, displayOption));
        QByteArray answer;
        switch (instance.Ask(kind, {}, &answer, onLine, kAnswerMs)) {
        case CSingleInstance::Outcome::NotRunning:
        case CSingleInstance::Outcome::Alone:
        case CSingleInstance::Outcome::First:
            continue;
        case CSingleInstance::Outcome::NoAnswer:
            return NoBumple(info, streamed ? "Bumple has ended"
                                           : "the Bumple that runs with these settings does "
                                             "not answer");
        case CSingleInstance::Outcome::Refused:
            std::fprintf(stderr, "%s\n", answer.constData());
            return kind == Kind::Status ? CStatusText::Unknown : CStatusText::Failed;
        case CSingleInstance::Outcome::Done:
            if (kind != Kind::Status)
                return CStatusText::Ok;
            Print(render(answer));
            return CStatusText::Exit(StatusOf(answer));
        }
    }
    return NoBumple(info, "no Bumple runs with these settings on this display");
}
