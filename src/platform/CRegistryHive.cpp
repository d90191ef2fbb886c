#include "CRegistryHive.h"

#include <QList>

#include <algorithm>

namespace {

const QByteArray kSignature = QByteArrayLiteral("REGEDIT4");
const QByteArray kUtf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");

bool IsSignature(const QByteArray& text) {
    const QByteArray line = text.startsWith(kUtf8Bom) ? text.mid(kUtf8Bom.size()) : text;
    return line.trimmed() == kSignature;
}

bool SameKey(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool IsAscii(const QByteArray& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

// Bytes that are no valid UTF-8 compare exactly, so that two different broken names never
// fold onto the same replacement characters. ASCII needs no conversion.
bool SameName(const QByteArray& a, const QByteArray& b) {
    if (a == b)
        return true;
    if (IsAscii(a) && IsAscii(b))
        return a.compare(b, Qt::CaseInsensitive) == 0;
    return a.isValidUtf8() && b.isValidUtf8() &&
           QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

QByteArray Quoted(const QByteArray& bytes) {
    static const char kHex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(bytes.size() + 2);
    out += '"';
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
        case '"':
            out += '\\';
            out += c;
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u == 0x7F) {
                out += "\\x";
                out += kHex[u >> 4];
                out += kHex[u & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads the quoted string that starts at pos and moves pos past its closing quote.
bool ReadQuoted(const QByteArray& line, qsizetype& pos, QByteArray& out) {
    if (pos >= line.size() || line[pos] != '"')
        return false;
    for (qsizetype i = pos + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == line.size())
            return false;
        switch (line[i]) {
        case '\\':
        case '"':
            out += line[i];
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            const int high = i + 2 < line.size() ? HexDigit(line[i + 1]) : -1;
            const int low = high >= 0 ? HexDigit(line[i + 2]) : -1;
            if (low < 0)
                return false;
            out += char(high << 4 | low);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

void SkipBlanks(const QByteArray& line, qsizetype& pos) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
}

// A trimmed value line: "name"="data" or @="data", with blanks allowed around the "=".
bool ReadValue(const QByteArray& line, QByteArray& name, QByteArray& data) {
    qsizetype pos = 0;
    if (line.startsWith('@'))
        pos = 1;
    else if (!ReadQuoted(line, pos, name))
        return false;
    SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != '=')
        return false;
    ++pos;
    SkipBlanks(line, pos);
    return ReadQuoted(line, pos, data) && pos == line.size();
}

} // namespace

CRegistryHive CRegistryHive::Parse(const QByteArray& fileContent) {
    CRegistryHive hive;
    QList<QByteArray> texts = fileContent.split('\n');
    hive.m_finalLineFeed = texts.last().isEmpty();
    if (hive.m_finalLineFeed)
        texts.removeLast();
    hive.m_crlf = !texts.isEmpty() && texts.first().endsWith('\r');
    if (texts.isEmpty() || !IsSignature(texts.first())) {
        const QByteArray lineEnd = hive.m_crlf ? QByteArrayLiteral("\r") : QByteArray();
        hive.m_lines.push_back({Kind::Other, kSignature + lineEnd, {}, {}, {}});
        hive.m_lines.push_back({Kind::Other, lineEnd, {}, {}, {}});
    }
    std::optional<QString> currentKey;
    hive.m_lines.reserve(hive.m_lines.size() + texts.size());
    for (const QByteArray& text : texts)
        hive.m_lines.push_back(Classify(text, currentKey));
    return hive;
}

CRegistryHive::Line CRegistryHive::Classify(const QByteArray& text,
                                            std::optional<QString>& currentKey) {
    Line line{Kind::Other, text, {}, {}, {}};
    const QByteArray trimmed = text.trimmed();
    if (trimmed.startsWith('[')) {
        // "[-key]" asks regedit to delete the key: not something this hive does.
        currentKey.reset();
        if (trimmed.size() > 2 && trimmed.endsWith(']') && trimmed[1] != '-') {
            line.kind = Kind::Header;
            line.key = QString::fromUtf8(trimmed.mid(1, trimmed.size() - 2));
            currentKey = line.key;
        }
    } else if (currentKey && ReadValue(trimmed, line.name, line.data)) {
        line.kind = Kind::Value;
        line.key = *currentKey;
    }
    return line;
}

QByteArray CRegistryHive::Serialize() const {
    QByteArray out;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        out += m_lines[i].text;
        if (i + 1 < m_lines.size() || m_finalLineFeed)
            out += '\n';
    }
    return out;
}

bool CRegistryHive::HasKey(const QString& keyPath) const {
    if (!keyPath.contains(QLatin1Char('\\')))
        return !keyPath.isEmpty();
    for (const Line& line : m_lines) {
        if (line.kind != Kind::Header || line.key.size() < keyPath.size())
            continue;
        const bool sameOrBelow =
            line.key.size() == keyPath.size() || line.key[keyPath.size()] == QLatin1Char('\\');
        if (sameOrBelow && SameKey(line.key.left(keyPath.size()), keyPath))
            return true;
    }
    return false;
}

void CRegistryHive::AddKey(const QString& keyPath) {
    qsizetype end = keyPath.indexOf(QLatin1Char('\\'));
    while (end != -1) {
        end = keyPath.indexOf(QLatin1Char('\\'), end + 1);
        const QString path = end == -1 ? keyPath : keyPath.left(end);
        if (!HasKey(path))
            AppendHeader(path);
    }
}

std::optional<QByteArray> CRegistryHive::Value(const QString& keyPath,
                                               const QByteArray& name) const {
    const qsizetype index = ValueIndex(keyPath, name);
    if (index < 0)
        return std::nullopt;
    return m_lines[index].data;
}

void CRegistryHive::SetValue(const QString& keyPath, const QByteArray& name,
                             const QByteArray& data) {
    const qsizetype index = ValueIndex(keyPath, name);
    if (index >= 0) {
        const Line& old = m_lines[index];
        m_lines[index] = ValueLine(old.key, old.name, data);
        return;
    }
    AddKey(keyPath);
    if (LastLineOf(keyPath) < 0)
        AppendHeader(keyPath);
    Insert(LastLineOf(keyPath) + 1, ValueLine(keyPath, name, data));
}

CRegistryHive::Line CRegistryHive::HeaderLine(const QString& keyPath) const {
    QByteArray text = '[' + keyPath.toUtf8() + ']';
    if (m_crlf)
        text += '\r';
    return {Kind::Header, text, keyPath, {}, {}};
}

CRegistryHive::Line CRegistryHive::ValueLine(const QString& keyPath, const QByteArray& name,
                                             const QByteArray& data) const {
    QByteArray text = name.isEmpty() ? QByteArrayLiteral("@") : Quoted(name);
    text += '=' + Quoted(data);
    if (m_crlf)
        text += '\r';
    return {Kind::Value, text, keyPath, name, data};
}

qsizetype CRegistryHive::LastLineOf(const QString& keyPath) const {
    for (qsizetype i = qsizetype(m_lines.size()) - 1; i >= 0; --i) {
        if (m_lines[i].kind != Kind::Other && SameKey(m_lines[i].key, keyPath))
            return i;
    }
    return -1;
}

qsizetype CRegistryHive::ValueIndex(const QString& keyPath, const QByteArray& name) const {
    for (qsizetype i = qsizetype(m_lines.size()) - 1; i >= 0; --i) {
        const Line& line = m_lines[i];
        if (line.kind == Kind::Value && SameKey(line.key, keyPath) && SameName(line.name, name))
            return i;
    }
    return -1;
}

void CRegistryHive::AppendHeader(const QString& keyPath) {
    if (!m_lines.empty() && !m_lines.back().text.trimmed().isEmpty())
        Insert(m_lines.size(),
               {Kind::Other, m_crlf ? QByteArrayLiteral("\r") : QByteArray(), {}, {}, {}});
    Insert(m_lines.size(), HeaderLine(keyPath));
}

void CRegistryHive::Insert(qsizetype index, Line line) {
    // The file's last line gains a line feed once anything follows it.
    if (index == qsizetype(m_lines.size()))
        m_finalLineFeed = true;
    m_lines.insert(m_lines.begin() + index, std::move(line));
}
