#include "CNetworkSandbox.h"

#include <QStringList>

#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

namespace {
// The engine's start looks the machine's own name up; without DNS in the namespace, only
// /etc/hosts (scripts/netns.sh mounts a copy that names it) can answer.
QString UnresolvedHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return QStringLiteral("(no host name)");
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* pList = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &pList) != 0)
        return QString::fromLocal8Bit(name);
    freeaddrinfo(pList);
    return QString();
}
} // namespace

QString CNetworkSandbox::Refusal() {
    QStringList interfaces;
    if (struct if_nameindex* pList = if_nameindex()) {
        for (const struct if_nameindex* p = pList; p->if_index != 0; ++p)
            interfaces.append(QString::fromLatin1(p->if_name));
        if_freenameindex(pList);
    }
    if (interfaces == QStringList{QStringLiteral("lo")}) {
        static const QString unresolved = UnresolvedHostName();
        if (unresolved.isEmpty())
            return QString();
        return QStringLiteral("the host name %1 does not resolve in this network namespace; run "
                              "the suite with scripts/test.sh, or under scripts/netns.sh")
            .arg(unresolved);
    }
    return QStringLiteral("not in a private network namespace (interfaces: %1); run the suite "
                          "with scripts/test.sh, or under scripts/netns.sh")
        .arg(interfaces.join(QLatin1Char(' ')));
}

bool CNetworkSandbox::Required() {
    return qEnvironmentVariableIsSet("BUMPLE_REQUIRE_NETNS");
}
