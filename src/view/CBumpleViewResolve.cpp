// The two host lookups of a start: the local address (once per run) and the target.

#include "CBumpleView.h"

#include "CComboBox.h"
#include "CFramework.h"
#include "CPlatform.h"
#include "CWindowMessage.h"
#include "CWinsock.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

namespace {
// Answer to a lookup that the socket library refused to start.
constexpr unsigned kLookupRefused = 11002;

bool StartsWithDigit(const QString& text) {
    return !text.isEmpty() && text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9');
}
} // namespace

bool CBumpleView::IsDottedAddress(const QString& strName) {
    // An IPv6 literal may begin with a digit too; it is looked up like a name.
    in6_addr address{};
    return StartsWithDigit(strName) &&
           inet_pton(AF_INET6, strName.toLatin1().constData(), &address) != 1;
}

QString CBumpleView::AddressText(int nFamily, const void* pAddress) {
    char text[INET6_ADDRSTRLEN] = {};
    return QString::fromLatin1(
        inet_ntop(nFamily == AF_INET6 ? AF_INET6 : AF_INET, pAddress, text, sizeof text));
}

const hostent* CBumpleView::HostEntry() const {
    // The record's pointers must all lie inside the buffer: a failed or half-cleared
    // lookup leaves it unusable, and it is never followed then.
    const char* begin = m_hostBuf;
    const char* end = m_hostBuf + sizeof m_hostBuf;
    const auto inside = [begin, end](const void* p, size_t size) {
        const char* q = static_cast<const char*>(p);
        return q >= begin && q <= end && size_t(end - q) >= size;
    };
    const auto* pEntry = reinterpret_cast<const hostent*>(m_hostBuf);
    if ((pEntry->h_addrtype != AF_INET || pEntry->h_length != 4) &&
        (pEntry->h_addrtype != AF_INET6 || pEntry->h_length != 16))
        return nullptr;
    if (!inside(pEntry->h_name, 1) ||
        std::memchr(pEntry->h_name, 0, size_t(end - pEntry->h_name)) == nullptr)
        return nullptr;
    if (!inside(pEntry->h_addr_list, sizeof(char*)) ||
        !inside(pEntry->h_addr_list[0], size_t(pEntry->h_length)))
        return nullptr;
    return pEntry;
}

void CBumpleView::ResolveLocalAddress() {
    CWinsock& sockets = CPlatform::Sockets();
    m_strLocalAddress = QStringLiteral("no address yet");
    char name[100] = {};
    sockets.gethostname(name, sizeof name);
    name[sizeof name - 1] = 0;
    std::memset(m_hostBuf, 0, 4);
    if (sockets.WSAAsyncGetHostByName(this, WM_LOCAL_RESOLVED, QByteArray(name), m_hostBuf,
                                      sizeof m_hostBuf) == 0)
        PostMessage(this, WM_LOCAL_RESOLVED, 0, MAKELPARAM(0, kLookupRefused));
    SetStatus(QStringLiteral("Determining Local IP Address"));
}

LRESULT CBumpleView::OnLocalResolved(WPARAM, LPARAM lParam) {
    CPlatform::Framework().EndWaitCursor();
    const hostent* pEntry = HIWORD(lParam) == 0 ? HostEntry() : nullptr;
    if (pEntry != nullptr) {
        // The address list lies in front of the name; when none of its bytes is zero, the
        // search for the name from the first address runs through all of them and lands
        // on the name, and the address just before it (the last one) is taken.
        const char* pCandidate = pEntry->h_addr_list[0];
        const char* pAddress = pCandidate;
        const char* pEnd = static_cast<const char*>(
            std::memchr(pCandidate, 0, size_t(m_hostBuf + sizeof m_hostBuf - pCandidate)));
        const size_t nameLength = std::strlen(pEntry->h_name);
        if (pEnd != nullptr && nameLength > 0) {
            const void* pFound =
                memmem(pCandidate, size_t(pEnd - pCandidate), pEntry->h_name, nameLength);
            if (pFound != nullptr) {
                const char* pBack = static_cast<const char*>(pFound) - pEntry->h_length;
                if (pBack != pCandidate && pBack >= m_hostBuf)
                    pAddress = pBack;
            }
        }
        m_strLocalAddress = AddressText(pEntry->h_addrtype, pAddress);
        if (StartsWithDigit(m_strLocalAddress) || pEntry->h_addrtype == AF_INET6) {
            m_bLocalAddressKnown = TRUE;
            ResolveTarget();
            return 0;
        }
    }
    SetStatus(QStringLiteral("NOT RUNNING"));
    StopEngine(TRUE);
    CPlatform::Framework().MessageBox(
        QStringLiteral("Unable to get local IP address.\nHave you dialed your ISP?") +
        BuildReportFooter());
    return 0;
}

void CBumpleView::ResolveTarget() {
    m_strTarget = m_comboName->GetWindowText();
    if (IsDottedAddress(m_strTarget)) {
        ArmSchedule();
        return;
    }
    std::memset(m_hostBuf, 0, 4);
    CPlatform::Framework().BeginWaitCursor();
    if (CPlatform::Sockets().WSAAsyncGetHostByName(this, WM_TARGET_RESOLVED, m_strTarget.toUtf8(),
                                                   m_hostBuf, sizeof m_hostBuf) == 0)
        PostMessage(this, WM_TARGET_RESOLVED, 0, MAKELPARAM(0, kLookupRefused));
    SetStatus(QStringLiteral("Validating Domain Name"));
}

LRESULT CBumpleView::OnTargetResolved(WPARAM, LPARAM lParam) {
    CPlatform::Framework().EndWaitCursor();
    if (HIWORD(lParam) == 0) {
        ArmSchedule();
        return 0;
    }
    RecordProblem(PROBLEM_DNS, m_strTarget);
    m_history.LookupFailed(m_strTarget);
    ++m_nLookupFailuresInRow;
    if (m_bIgnoreFailures) {
        SetStatus(QStringLiteral("Last domain resolution failed"));
        AdvanceToNextName(TRUE, m_strTarget);
        return 0;
    }
    StopEngine(TRUE);
    CPlatform::Framework().MessageBox(
        QStringLiteral("Bumple: Name %1 Not Found.\n\n(The \"Ignore Connection Failures\" option "
                       "in the Options Dialog might help prevent this in the future.)")
            .arg(m_strTarget) +
        BuildReportFooter());
    return 0;
}
