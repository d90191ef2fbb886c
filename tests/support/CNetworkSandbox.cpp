#include "CNetworkSandbox.h"

#include <QStringList>

#include <net/if.h>

QString CNetworkSandbox::Refusal() {
    QStringList interfaces;
    if (struct if_nameindex* pList = if_nameindex()) {
        for (const struct if_nameindex* p = pList; p->if_index != 0; ++p)
            interfaces.append(QString::fromLatin1(p->if_name));
        if_freenameindex(pList);
    }
    if (interfaces == QStringList{QStringLiteral("lo")})
        return QString();
    return QStringLiteral("not in a private network namespace (interfaces: %1); run the suite "
                          "with scripts/test.sh, or under `unshare -n` with lo up")
        .arg(interfaces.join(QLatin1Char(' ')));
}

bool CNetworkSandbox::Required() {
    return qEnvironmentVariableIsSet("BUMPLE_REQUIRE_NETNS");
}
