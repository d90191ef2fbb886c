#include "CProcLinkCounters.h"

#include <QFile>
#include <QList>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
// Far more than the lines of every interface of an ordinary machine; a longer table is
// read as far as this goes, and an interface beyond it counts as unreadable.
constexpr int kDevBufferSize = 16384;

bool ParseHex(const QByteArray& text, uint32_t* pValue) {
    bool ok = false;
    *pValue = text.toUInt(&ok, 16);
    return ok;
}
} // namespace

QString CProcLinkCounters::RouteFromText(const QByteArray& route, uint32_t address) {
    // The loopback net lives in the local table, which /proc/net/route does not show.
    if ((ntohl(address) >> 24) == 127)
        return QStringLiteral("lo");
    QString best;
    int bestBits = -1;
    const QList<QByteArray> lines = route.split('\n');
    // Fields: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the first line
    // names them. Destination and mask are hexadecimal in network byte order as stored.
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        uint32_t destination = 0;
        uint32_t flags = 0;
        uint32_t mask = 0;
        if (fields.size() < 8 || !ParseHex(fields[1], &destination) ||
            !ParseHex(fields[3], &flags) || !ParseHex(fields[7], &mask))
            continue;
        constexpr uint32_t kRouteUp = 0x1;
        if ((flags & kRouteUp) == 0 || (address & mask) != destination)
            continue;
        const int bits = __builtin_popcount(mask);
        if (bits > bestBits) {
            bestBits = bits;
            best = QString::fromLatin1(fields[0]);
        }
    }
    return best;
}

bool CProcLinkCounters::BytesFromText(const QByteArray& dev, const QString& strInterface,
                                      uint64_t* pBytes) {
    // Read at every tick: a plain scan, without a copy or an allocation per line.
    const QByteArray name = strInterface.toLatin1();
    const char* p = dev.constData();
    const char* const end = p + dev.size();
    while (p < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (lineEnd == nullptr)
            lineEnd = end;
        while (p < lineEnd && *p == ' ')
            ++p;
        if (lineEnd - p > name.size() &&
            std::memcmp(p, name.constData(), size_t(name.size())) == 0 && p[name.size()] == ':') {
            // After "name:": eight receive fields, the first the bytes, then the sent bytes.
            p += name.size() + 1;
            uint64_t fields[9];
            int count = 0;
            while (count < 9) {
                while (p < lineEnd && *p == ' ')
                    ++p;
                if (p == lineEnd || *p < '0' || *p > '9')
                    return false;
                uint64_t value = 0;
                for (; p < lineEnd && *p >= '0' && *p <= '9'; ++p)
                    value = value * 10 + uint64_t(*p - '0');
                fields[count++] = value;
            }
            *pBytes = fields[0] + fields[8];
            return true;
        }
        p = lineEnd + 1;
    }
    return false;
}

QString CProcLinkCounters::RouteInterface(uint32_t address) {
    if ((ntohl(address) >> 24) == 127)
        return RouteFromText({}, address);
    QFile route(QStringLiteral("/proc/net/route"));
    if (!route.open(QIODevice::ReadOnly))
        return {};
    return RouteFromText(route.readAll(), address);
}

bool CProcLinkCounters::ReadBytes(const QString& strInterface, uint64_t* pBytes) {
    if (!m_dev.IsOpen())
        m_dev = CFileDescriptor::Open("/proc/net/dev", O_RDONLY);
    if (!m_dev.IsOpen())
        return false;
    char buffer[kDevBufferSize];
    const ssize_t n = m_dev.ReadSomeAt(buffer, sizeof buffer, 0);
    if (n <= 0)
        return false;
    return BytesFromText(QByteArray::fromRawData(buffer, n), strInterface, pBytes);
}
