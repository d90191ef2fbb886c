#include "CProfileStore.h"

#include "CConfigFolder.h"
#include "CIniLine.h"
#include "CNumberText.h"

#include <QFile>

#include <cstdio>
#include <optional>

namespace {

constexpr DWORD kBufferSize = 260;
// Lines longer than this arrive in pieces, each read as a line of its own.
constexpr int kIniLineBuffer = 520;
const QString kApplicationName = QStringLiteral("Bumple");

// The value's text up to its first NUL, or nothing when the key or the value is missing or
// the text does not fit the buffer.
std::optional<QByteArray> ReadText(HKEY hRootKey, const QString& keyPath, const QString& entry) {
    HKEY hKey = nullptr;
    if (CRegistry::RegOpenKeyEx(hRootKey, keyPath, &hKey) != ERROR_SUCCESS)
        return std::nullopt;
    char buffer[kBufferSize];
    DWORD size = kBufferSize;
    const LONG result = CRegistry::RegQueryValueEx(hKey, entry.toUtf8(), buffer, &size);
    CRegistry::RegCloseKey(hKey);
    if (result != ERROR_SUCCESS)
        return std::nullopt;
    return QByteArray(buffer);
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
    return CRegistry::RegCreateKeyTransacted(hRootKey, strKeyPath, phKey, pdwDisposition) ==
           ERROR_SUCCESS;
}

int CProfileStore::GetProfileInt(const QString& strSection, const QString& strEntry, int nDefault) {
    const std::optional<QByteArray> text =
        ReadText(m_hRootKey, m_strKeyPath + QLatin1Char('\\') + strSection, strEntry);
    if (!text)
        return nDefault;
    // As "%d"; a text that does not start with a number (empty, letters) gives the default
    // too, and a number out of range the nearest int.
    int number = 0;
    return CNumberText::ScanInt(QString::fromUtf8(*text), &number) ? number : nDefault;
}

bool CProfileStore::WriteProfileInt(const QString& strSection, const QString& strEntry,
                                    int nValue) {
    return WriteProfileString(strSection, strEntry, QString::number(nValue));
}

QString CProfileStore::GetProfileString(const QString& strSection, const QString& strEntry,
                                        const QString& strDefault) {
    const std::optional<QByteArray> text =
        ReadText(m_hRootKey, m_strKeyPath + QLatin1Char('\\') + strSection, strEntry);
    return text ? QString::fromUtf8(*text) : strDefault;
}

bool CProfileStore::WriteProfileString(const QString& strSection, const QString& strEntry,
                                       const QString& strValue) {
    HKEY hKey = nullptr;
    if (CRegistry::RegCreateKeyEx(m_hRootKey, m_strKeyPath + QLatin1Char('\\') + strSection, &hKey,
                                  nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result = WriteText(hKey, strEntry.toUtf8(), strValue.toUtf8());
    CRegistry::RegCloseKey(hKey);
    return result == ERROR_SUCCESS;
}

void CProfileStore::ImportIniFile(HKEY hAppKey) {
    const QString path =
        CConfigFolder::WindowsDirectory() + QLatin1Char('/') + kApplicationName + ".INI";
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "r");
    if (file == nullptr)
        return;
    HKEY hSection = nullptr;
    char buffer[kIniLineBuffer];
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        const CIniLine line = CIniLine::Classify(QByteArray(buffer));
        if (line.m_kind == CIniLine::Kind::Section) {
            if (hSection != nullptr)
                CRegistry::RegCloseKey(hSection);
            if (CRegistry::RegCreateKeyEx(hAppKey, QString::fromUtf8(line.m_section), &hSection,
                                          nullptr) != ERROR_SUCCESS)
                break;
        } else if (line.m_kind == CIniLine::Kind::Value && hSection != nullptr) {
            WriteText(hSection, line.m_name, line.m_value);
        }
    }
    if (hSection != nullptr)
        CRegistry::RegCloseKey(hSection);
    std::fclose(file);
}
