#include "CProfileStore.h"

#include "CAnsiText.h"
#include "CConfigFolder.h"
#include "CIniLine.h"
#include "CNumberText.h"
#include "SettingsTable.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

// The longest readable text, in characters; in UTF-8 each takes up to four bytes.
constexpr qsizetype kMaxCharacters = 259;
constexpr DWORD kBufferSize = 4 * kMaxCharacters + 1;
// Lines longer than this arrive in pieces, each read as a line of its own.
constexpr int kIniLineBuffer = 520;

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
    QString subKey;
    const HKEY hBase = SectionBase(strSection, subKey);
    const std::optional<QString> text = ReadText(hBase, subKey, strEntry);
    if (text)
        Remember(strSection, strEntry, *text);
    return text;
}

bool CProfileStore::WriteProfileString(const QString& strSection, const QString& strEntry,
                                       const QString& strValue) {
    const QString known = KnownName(strSection, strEntry);
    const auto unitText = m_unitTexts.constFind(known);
    const auto knownText = m_knownTexts.constFind(known);
    if (unitText != m_unitTexts.cend()
            ? *unitText == strValue
            : knownText != m_knownTexts.cend() && *knownText == strValue) {
        if (m_bInUnit)
            m_unitSkipped.append({strSection, strEntry, strValue});
        return true;
    }
    // A unit that could not begin writes nothing: a part of it must not stand alone.
    if (m_bInUnit && m_hUnitKey == nullptr)
        return false;
    m_bUnitChanged = m_bInUnit;
    return StoreText(strSection, strEntry, strValue);
}

void CProfileStore::BeginWriteUnit() {
    m_bInUnit = true;
    m_bUnitChanged = false;
    m_unitTexts.clear();
    m_unitSkipped.clear();
    if (CRegistry::RegCreateKeyTransacted(m_hRootKey, m_strKeyPath, &m_hUnitKey, nullptr) !=
        ERROR_SUCCESS)
        m_hUnitKey = nullptr;
}

bool CProfileStore::EndWriteUnit() {
    // A unit that changes something while another writer changed what it left alone is
    // written whole, so that the group never holds a mix of both.
    for (const SkippedWrite& skipped : m_bUnitChanged ? m_unitSkipped : QList<SkippedWrite>()) {
        QString subKey;
        const HKEY hBase = SectionBase(skipped.section, subKey);
        if (ReadText(hBase, subKey, skipped.entry) != skipped.value)
            StoreText(skipped.section, skipped.entry, skipped.value);
    }
    const bool written =
        m_hUnitKey != nullptr && CRegistry::RegCloseKey(m_hUnitKey) == ERROR_SUCCESS;
    if (written)
        m_knownTexts.insert(m_unitTexts);
    m_unitTexts.clear();
    m_unitSkipped.clear();
    m_hUnitKey = nullptr;
    m_bInUnit = false;
    return written;
}

bool CProfileStore::StoreText(const QString& strSection, const QString& strEntry,
                              const QString& strValue) {
    QString subKey;
    HKEY hKey = nullptr;
    if (CRegistry::RegCreateKeyEx(SectionBase(strSection, subKey), subKey, &hKey, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG result = WriteText(hKey, strEntry.toUtf8(), strValue.toUtf8());
    CRegistry::RegCloseKey(hKey);
    if (result != ERROR_SUCCESS)
        return false;
    Remember(strSection, strEntry, strValue);
    return true;
}

HKEY CProfileStore::SectionBase(const QString& strSection, QString& strSubKey) const {
    if (m_hUnitKey != nullptr) {
        strSubKey = strSection;
        return m_hUnitKey;
    }
    strSubKey = m_strKeyPath + QLatin1Char('\\') + strSection;
    return m_hRootKey;
}

void CProfileStore::Remember(const QString& strSection, const QString& strEntry,
                             const QString& strText) {
    (m_bInUnit ? m_unitTexts : m_knownTexts).insert(KnownName(strSection, strEntry), strText);
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
    FILE* file = std::fopen(path.constData(), "r");
    if (file == nullptr)
        return;
    // A file from Windows is in its ANSI code page unless it is all valid UTF-8.
    QByteArray whole;
    char buffer[kIniLineBuffer];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        whole.append(buffer, qsizetype(n));
    const bool utf8 = whole.isValidUtf8();
    std::rewind(file);
    const auto asUtf8 = [utf8](const QByteArray& bytes) {
        return utf8 ? bytes : CAnsiText::FromWindows1252(bytes).toUtf8();
    };

    HKEY hSection = nullptr;
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        const CIniLine line = CIniLine::Classify(QByteArray(buffer));
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
    std::fclose(file);
}
