#include "CProfileStore.h"

#include "CAnsiText.h"
#include "CConfigFolder.h"
#include "CFileDescriptor.h"
#include "CIniLine.h"
#include "CNumberText.h"
#include "SettingsTable.h"

#include <QSet>

#include <algorithm>
#include <fcntl.h>
#include <optional>
#include <utility>

namespace {

// The longest readable text, in characters; in UTF-8 each takes up to four bytes.
constexpr qsizetype kMaxCharacters = 259;
constexpr DWORD kBufferSize = 4 * kMaxCharacters + 1;
// Lines longer than this arrive in pieces, each read as a line of its own.
constexpr qsizetype kIniLineBuffer = 520;
const QByteArray kUtf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");

// The value's text up to its first NUL, or nothing when the key or the value is missing or
// the text is longer than 259 characters.
std::optional<QString> ReadText(HKEY hBase, const QString& subKey, const QString& entry) {
    HKEY hKey = nullptr;
    if (CRegistry::RegOpenKeyEx(hBase, subKey, &hKey) != ERROR_SUCCESS)
        return std::nullopt;
    char buffer[kBufferSize];
    DWORD size = kBufferSize;
    const LONG result = CRegistry::RegQueryValueEx(hKey, entry.toUtf8(), buffer, &size);
    CRegistry::RegCloseKey(hKey);
    if (result != ERROR_SUCCESS)
        return std::nullopt;
    const QString text = CAnsiText::Decode(QByteArray(buffer));
    if (text.size() > kMaxCharacters && text.toUcs4().size() > kMaxCharacters)
        return std::nullopt;
    return text;
}

QString KnownName(const QString& section, const QString& entry) {
    const QString name = section + QLatin1Char('\\') + entry;
    // Value names compare case-insensitively; those of this program are ASCII.
    const bool ascii =
        std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x80; });
    return ascii ? name.toLower() : name.toCaseFolded();
}

LONG WriteText(HKEY hKey, const QByteArray& name, const QByteArray& text) {
    return CRegistry::RegSetValueEx(hKey, name, text.constData(), DWORD(text.size() + 1));
}

} // namespace

CProfileStore::CProfileStore() : m_hRootKey(HKEY_LOCAL_MACHINE) {}

CProfileStore::~CProfileStore() = default;

bool CProfileStore::SetKey(HKEY* phKey, DWORD* pdwDisposition, HKEY hRootKey,
                           const QString& strKeyPath) {
    m_strKeyPath = strKeyPath;
    m_hRootKey = hRootKey;
    m_knownTexts.clear();
    m_pending.clear();
    m_pendingListEnd.reset();
    return CRegistry::RegCreateKeyTransacted(hRootKey, strKeyPath, phKey, pdwDisposition) ==
           ERROR_SUCCESS;
}

int CProfileStore::GetProfileInt(const QString& strSection, const QString& strEntry, int nDefault) {
    const std::optional<QString> text = ReadProfileText(strSection, strEntry);
    if (!text)
        return nDefault;
    // As "%d"; a text that does not start with a number (empty, letters) gives the default
    // too, and a number out of range the nearest int.
    int number = 0;
    return CNumberText::ScanInt(*text, &number) ? number : nDefault;
}

bool CProfileStore::WriteProfileInt(const QString& strSection, const QString& strEntry,
                                    int nValue) {
    return WriteProfileString(strSection, strEntry, QString::number(nValue));
}

QString CProfileStore::GetProfileString(const QString& strSection, const QString& strEntry,
                                        const QString& strDefault) {
    return ReadProfileText(strSection, strEntry).value_or(strDefault);
}

std::optional<QString> CProfileStore::ReadProfileText(const QString& strSection,
                                                      const QString& strEntry) {
    const QString known = KnownName(strSection, strEntry);
    if (const std::optional<QString> unit = m_bInUnit ? TextIn(m_unit, known) : std::nullopt)
        return unit;
    if (const std::optional<QString> pending = TextIn(m_pending, known))
        return pending;
    const std::optional<QString> text =
        ReadText(m_hRootKey, m_strKeyPath + QLatin1Char('\\') + strSection, strEntry);
    if (text)
        m_knownTexts.insert(known, *text);
    else
        m_knownTexts.remove(known);
    return text;
}

bool CProfileStore::WriteProfileString(const QString& strSection, const QString& strEntry,
                                       const QString& strValue) {
    Write write = MakeWrite(strSection, strEntry, strValue);
    if (!m_bInUnit)
        return WriteUnit({write}, std::nullopt);
    m_unit.removeIf([&write](const Write& other) { return other.known == write.known; });
    m_unit.append(std::move(write));
    return true;
}

void CProfileStore::BeginWriteUnit() {
    m_bInUnit = true;
    m_unit.clear();
}

bool CProfileStore::EndWriteUnit() {
    m_bInUnit = false;
    return WriteUnit(std::exchange(m_unit, {}), std::nullopt);
}

bool CProfileStore::WriteNameList(const QStringList& names, int nSelection) {
    using namespace SettingsTable;
    Writes writes;
    int i = 0;
    for (; i < names.size(); ++i)
        writes.append(MakeWrite(kSection, ComboName(i), names.at(i)));
    // An empty value ends the list, so the names this store knew beyond it are blanked.
    for (Write blank = MakeWrite(kSection, ComboName(i), QString()); !KnownText(blank).isEmpty();
         blank = MakeWrite(kSection, ComboName(++i), QString()))
        writes.append(blank);
    writes.append(MakeWrite(kSection, kComboNameSel, QString::number(nSelection)));
    return WriteUnit(writes, MakeWrite(kSection, ComboName(i), QString()));
}

CProfileStore::Write CProfileStore::MakeWrite(const QString& strSection, const QString& strEntry,
                                              const QString& strValue) {
    return {strSection, strEntry, strValue, KnownName(strSection, strEntry)};
}

std::optional<QString> CProfileStore::TextIn(const Writes& writes, const QString& known) {
    for (const Write& write : writes) {
        if (write.known == known)
            return write.value;
    }
    return std::nullopt;
}

QString CProfileStore::KnownText(const Write& write) const {
    return TextIn(m_pending, write.known).value_or(m_knownTexts.value(write.known));
}

bool CProfileStore::WriteUnit(const Writes& writes, const std::optional<Write>& listEnd) {
    // The unit says what its values are now: what was pending for them is void.
    QSet<QString> names;
    for (const Write& write : writes)
        names.insert(write.known);
    m_pending.removeIf([&names](const Write& pending) { return names.contains(pending.known); });
    if (listEnd)
        m_pendingListEnd.reset();
    const bool changed = std::any_of(writes.begin(), writes.end(), [this](const Write& write) {
        const auto known = m_knownTexts.constFind(write.known);
        return known == m_knownTexts.cend() || *known != write.value;
    });
    // Unchanged, it writes nothing of its own, but still what is pending.
    return changed ? Flush(writes, listEnd) : SavePending();
}

bool CProfileStore::SavePending() {
    return m_pending.isEmpty() || Flush({}, std::nullopt);
}

bool CProfileStore::Flush(const Writes& writes, const std::optional<Write>& listEnd) {
    Writes all = m_pending + writes;
    const std::optional<Write> end = listEnd ? listEnd : m_pendingListEnd;
    if (!Store(all, end)) {
        // Kept for the next write that reaches the file.
        m_pending = std::move(all);
        m_pendingListEnd = end;
        return false;
    }
    for (const Write& write : all)
        m_knownTexts.insert(write.known, write.value);
    m_pending.clear();
    m_pendingListEnd.reset();
    return true;
}

bool CProfileStore::Store(const Writes& writes, const std::optional<Write>& listEnd) const {
    HKEY hAppKey = nullptr;
    if (CRegistry::RegCreateKeyTransacted(m_hRootKey, m_strKeyPath, &hAppKey, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const auto set = [hAppKey](const Write& write) {
        // A value whose text is already that keeps its bytes (a Latin-1 hand edit among them).
        if (ReadText(hAppKey, write.section, write.entry) == write.value)
            return true;
        HKEY hKey = nullptr;
        if (CRegistry::RegCreateKeyEx(hAppKey, write.section, &hKey, nullptr) != ERROR_SUCCESS)
            return false;
        const LONG result = WriteText(hKey, write.entry.toUtf8(), write.value.toUtf8());
        CRegistry::RegCloseKey(hKey);
        return result == ERROR_SUCCESS;
    };
    bool stored = true;
    for (const Write& write : writes)
        stored = set(write) && stored;
    if (stored && listEnd &&
        !ReadText(hAppKey, listEnd->section, listEnd->entry).value_or(QString()).isEmpty())
        stored = set(*listEnd);
    // Closing the key writes everything as one change.
    return CRegistry::RegCloseKey(hAppKey) == ERROR_SUCCESS && stored;
}

bool CProfileStore::OpenApplicationKey(DWORD* pdwDisposition) {
    HKEY hKey = nullptr;
    DWORD disposition = 0;
    if (!SetKey(&hKey, &disposition, HKEY_LOCAL_MACHINE, SettingsTable::kKeyPath))
        return false;
    if (disposition == REG_CREATED_NEW_KEY)
        ImportIniFile(hKey);
    if (pdwDisposition != nullptr)
        *pdwDisposition = disposition;
    return CRegistry::RegCloseKey(hKey) == ERROR_SUCCESS;
}

void CProfileStore::ImportIniFile(HKEY hAppKey) {
    const QByteArray path = CConfigFolder::WindowsDirectory() + '/' + SettingsTable::kLegacyIniName;
    QByteArray whole;
    // A file far larger than any settings file could never be written into the hive.
    if (const CFileDescriptor file = CFileDescriptor::Open(path, O_RDONLY);
        !file.IsOpen() || !file.ReadAll(whole, CRegistry::kMaxHiveSize))
        return;
    // A file from Windows is in its ANSI code page unless it is all valid UTF-8.
    const bool utf8 = whole.isValidUtf8();
    const auto asUtf8 = [utf8](const QByteArray& bytes) {
        return utf8 ? bytes : CAnsiText::FromWindows1252(bytes).toUtf8();
    };

    HKEY hSection = nullptr;
    // Notepad puts a byte-order mark before the first header.
    qsizetype start = whole.startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0;
    while (start < whole.size()) {
        // A line as fgets gives it: up to its line feed, at most kIniLineBuffer - 1 bytes, and
        // as a C string, up to a NUL.
        const qsizetype lineFeed = whole.indexOf('\n', start);
        const qsizetype end =
            std::min(lineFeed < 0 ? whole.size() : lineFeed + 1, start + kIniLineBuffer - 1);
        const char* text = whole.constData() + start;
        const CIniLine line = CIniLine::Classify(QByteArray(text, qstrnlen(text, end - start)));
        start = end;
        if (line.m_kind == CIniLine::Kind::Section) {
            if (hSection != nullptr)
                CRegistry::RegCloseKey(hSection);
            if (CRegistry::RegCreateKeyEx(hAppKey, QString::fromUtf8(asUtf8(line.m_section)),
                                          &hSection, nullptr) != ERROR_SUCCESS)
                break;
        } else if (line.m_kind == CIniLine::Kind::Value && hSection != nullptr) {
            WriteText(hSection, asUtf8(line.m_name), asUtf8(line.m_value));
        }
    }
    if (hSection != nullptr)
        CRegistry::RegCloseKey(hSection);
}
