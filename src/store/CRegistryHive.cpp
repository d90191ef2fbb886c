#include "CRegistryHive.h"

#include "CAnsiText.h"

#include <QList>

#include <algorithm>

namespace {

const QByteArray kSignature = QByteArrayLiteral("REGEDIT4");
const QByteArray kUnicodeSignature = QByteArrayLiteral("Windows Registry Editor Version 5.00");
const QByteArray kUtf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");
const QByteArray kUtf16Bom = QByteArrayLiteral("\xFF\xFE");

enum class Signature { None, Regedit4, Unicode };

Signature SignatureOf(const QByteArray& text) {
    const QByteArray line = text.trimmed();
    if (line == kSignature)
        return Signature::Regedit4;
    return line == kUnicodeSignature ? Signature::Unicode : Signature::None;
}

QString FromUtf16LeUnits(const QByteArray& bytes) {
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(char16_t(uchar(bytes[2 * i]) | uchar(bytes[2 * i + 1]) << 8));
    return text;
}

QByteArray FromUtf16Le(const QByteArray& bytes) {
    return FromUtf16LeUnits(bytes).toUtf8();
}

// A regedit export in UTF-16LE as UTF-8: its byte-order mark, whole UTF-16 and the registry
// editor's header. Any other file that happens to begin with FF FE keeps its bytes.
std::optional<QByteArray> FromUtf16Export(const QByteArray& fileContent) {
    if (!fileContent.startsWith(kUtf16Bom) || fileContent.size() % 2 != 0)
        return std::nullopt;
    const QString text = FromUtf16LeUnits(fileContent.mid(kUtf16Bom.size()));
    if (!text.isValidUtf16())
        return std::nullopt;
    QByteArray utf8 = text.toUtf8();
    const qsizetype firstLineEnd = utf8.indexOf('\n');
    if (SignatureOf(firstLineEnd < 0 ? utf8 : utf8.left(firstLineEnd)) == Signature::None)
        return std::nullopt;
    return utf8;
}

bool IsAscii(const QByteArray& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

// Names compare case-insensitively. Bytes that are no valid UTF-8 compare exactly, so that two
// different broken names never fold onto the same text. ASCII needs no conversion.
QByteArray FoldedName(const QByteArray& name) {
    if (IsAscii(name))
        return name.toLower();
    return name.isValidUtf8() ? QString::fromUtf8(name).toCaseFolded().toUtf8() : name;
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

bool ReadHexNumber(const QByteArray& digits, int maxDigits, uint& number) {
    if (digits.isEmpty() || digits.size() > maxDigits)
        return false;
    number = 0;
    for (const char c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return false;
        number = number << 4 | uint(digit);
    }
    return true;
}

bool IsUnicodeText(uint type) {
    return type == 1 || type == 2 || type == 7;
}

// The data of dword:, hex: or hex(N): with blanks removed. A Unicode export's text is
// rewritten as the REGEDIT4 line of the same data in UTF-8, so that it keeps its meaning in
// the file that the first change writes.
bool ReadTyped(const QByteArray& typed, bool unicodeExport, QByteArray& data,
               QByteArray& rewritten) {
    const QByteArray lower = typed.toLower();
    uint number = 0;
    if (lower.startsWith("dword:")) {
        if (!ReadHexNumber(typed.mid(6), 8, number))
            return false;
        for (int i = 0; i < 4; ++i)
            data += char(number >> (8 * i) & 0xFF);
        return true;
    }
    uint type = 3;
    qsizetype start = 4;
    if (lower.startsWith("hex(")) {
        const qsizetype close = lower.indexOf("):");
        if (close < 0 || !ReadHexNumber(typed.mid(4, close - 4), 8, type))
            return false;
        start = close + 2;
    } else if (!lower.startsWith("hex:")) {
        return false;
    }
    const QByteArray list = typed.mid(start);
    if (!list.isEmpty()) {
        for (const QByteArray& item : list.split(',')) {
            if (!ReadHexNumber(item, 2, number))
                return false;
            data += char(number);
        }
    }
    if (unicodeExport && IsUnicodeText(type)) {
        data = FromUtf16Le(data);
        rewritten = "hex(" + QByteArray::number(type, 16) + "):" + data.toHex(',');
    }
    return true;
}

// A trimmed value line: "name"="data" or @="data", with blanks allowed around the "=", or a
// typed value in place of the quoted data.
bool ReadValue(const QByteArray& line, bool unicodeExport, QByteArray& name, QByteArray& data,
               bool& sz, QByteArray& rewrittenLine) {
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
    sz = pos < line.size() && line[pos] == '"';
    if (sz)
        return ReadQuoted(line, pos, data) && pos == line.size();
    QByteArray typed = line.mid(pos);
    typed.replace(' ', QByteArray()).replace('\t', QByteArray());
    QByteArray rewritten;
    if (!ReadTyped(typed, unicodeExport, data, rewritten))
        return false;
    if (!rewritten.isEmpty())
        rewrittenLine = line.left(pos) + rewritten;
    return true;
}

// A piece of a typed value that goes on in the next line: its trimmed text without the "\".
bool Continues(const QByteArray& text, QByteArray& piece) {
    piece = text.trimmed();
    if (!piece.endsWith('\\'))
        return false;
    piece.chop(1);
    return true;
}

} // namespace

CRegistryHive CRegistryHive::Parse(const QByteArray& fileContent) {
    CRegistryHive hive;
    QByteArray content = FromUtf16Export(fileContent).value_or(fileContent);
    // A UTF-8 byte-order mark (as Notepad writes it) is no part of the first line.
    if (content.startsWith(kUtf8Bom)) {
        hive.m_byteOrderMark = kUtf8Bom;
        content.remove(0, kUtf8Bom.size());
    }
    QList<QByteArray> texts = content.split('\n');
    hive.m_finalLineFeed = texts.last().isEmpty();
    if (hive.m_finalLineFeed)
        texts.removeLast();
    hive.m_crlf = !texts.isEmpty() && texts.first().endsWith('\r');
    const QByteArray lineEnd = hive.m_crlf ? QByteArrayLiteral("\r") : QByteArray();
    const Signature signature = texts.isEmpty() ? Signature::None : SignatureOf(texts.first());
    if (signature == Signature::None) {
        hive.m_lines.push_back({Kind::Other, kSignature + lineEnd, {}, {}, {}, false});
        hive.m_lines.push_back({Kind::Other, lineEnd, {}, {}, {}, false});
    } else if (signature == Signature::Unicode) {
        // The file is written in one form only, so an export's first change rewrites it whole.
        texts.first() = kSignature + lineEnd;
    }
    const bool unicodeExport = signature == Signature::Unicode;
    std::optional<QString> currentKey;
    hive.m_lines.reserve(hive.m_lines.size() + texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i) {
        QByteArray text = texts[i];
        QByteArray content;
        qsizetype last = i;
        // A typed value may go on over several lines; they are one line here if that reads.
        for (QByteArray piece; Continues(texts[last], piece) && last + 1 < texts.size(); ++last)
            content += piece;
        Line line;
        if (last > i) {
            std::optional<QString> key = currentKey;
            QByteArray joined = text;
            for (qsizetype next = i + 1; next <= last; ++next)
                joined += '\n' + texts[next];
            line = Classify(joined, content + texts[last].trimmed(), key, unicodeExport);
            if (line.kind == Kind::Value)
                i = last;
        }
        if (line.kind != Kind::Value)
            line = Classify(text, text, currentKey, unicodeExport);
        hive.AddToIndex(line, qsizetype(hive.m_lines.size()));
        hive.m_lines.push_back(std::move(line));
    }
    return hive;
}

CRegistryHive::Line CRegistryHive::Classify(const QByteArray& text, const QByteArray& content,
                                            std::optional<QString>& currentKey,
                                            bool unicodeExport) {
    Line line{Kind::Other, text, {}, {}, {}, false};
    const QByteArray trimmed = content.trimmed();
    if (trimmed.startsWith('[')) {
        // "[-key]" asks regedit to delete the key: not something this hive does.
        currentKey.reset();
        if (trimmed.size() > 2 && trimmed.endsWith(']') && trimmed[1] != '-') {
            line.kind = Kind::Header;
            line.key = CAnsiText::Decode(trimmed.mid(1, trimmed.size() - 2));
            currentKey = line.key;
        }
    } else if (QByteArray rewritten; currentKey && ReadValue(trimmed, unicodeExport, line.name,
                                                             line.data, line.sz, rewritten)) {
        line.kind = Kind::Value;
        line.key = *currentKey;
        if (!rewritten.isEmpty())
            line.text = rewritten + (text.endsWith('\r') ? "\r" : "");
    } else {
        line.name.clear();
        line.data.clear();
    }
    return line;
}

QByteArray CRegistryHive::Serialize() const {
    QByteArray out = m_byteOrderMark;
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
    return m_keys.contains(FoldedKey(keyPath));
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
        if (old.sz && old.data == data)
            return;
        m_lines[index] = ValueLine(old.key, old.name, data);
        m_modified = true;
        return;
    }
    AddKey(keyPath);
    if (LastLineOf(keyPath) < 0)
        AppendHeader(keyPath);
    Insert(LastLineOf(keyPath) + 1, ValueLine(keyPath, name, data));
}

QString CRegistryHive::FoldedKey(const QString& keyPath) const {
    if (keyPath != m_foldedFor || m_foldedFor.isNull()) {
        m_foldedFor = keyPath;
        m_folded = keyPath.toCaseFolded();
        const QByteArray key = m_folded.toUtf8();
        m_valueIdPrefix = QByteArray::number(key.size()) + ':' + key;
    }
    return m_folded;
}

QByteArray CRegistryHive::ValueId(const QString& keyPath, const QByteArray& name) const {
    FoldedKey(keyPath);
    return m_valueIdPrefix + FoldedName(name);
}

CRegistryHive::Line CRegistryHive::HeaderLine(const QString& keyPath) const {
    QByteArray text = '[' + keyPath.toUtf8() + ']';
    if (m_crlf)
        text += '\r';
    return {Kind::Header, text, keyPath, {}, {}, false};
}

CRegistryHive::Line CRegistryHive::ValueLine(const QString& keyPath, const QByteArray& name,
                                             const QByteArray& data) const {
    QByteArray text = name.isEmpty() ? QByteArrayLiteral("@") : Quoted(name);
    text += '=' + Quoted(data);
    if (m_crlf)
        text += '\r';
    return {Kind::Value, text, keyPath, name, data, true};
}

qsizetype CRegistryHive::LastLineOf(const QString& keyPath) const {
    return m_lastLines.value(FoldedKey(keyPath), -1);
}

qsizetype CRegistryHive::ValueIndex(const QString& keyPath, const QByteArray& name) const {
    return m_valueLines.value(ValueId(keyPath, name), -1);
}

void CRegistryHive::AppendHeader(const QString& keyPath) {
    if (!m_lines.empty() && !m_lines.back().text.trimmed().isEmpty())
        Insert(m_lines.size(),
               {Kind::Other, m_crlf ? QByteArrayLiteral("\r") : QByteArray(), {}, {}, {}, false});
    Insert(m_lines.size(), HeaderLine(keyPath));
}

void CRegistryHive::Insert(qsizetype index, Line line) {
    // The file's last line gains a line feed once anything follows it.
    if (index == qsizetype(m_lines.size()))
        m_finalLineFeed = true;
    else {
        for (qsizetype& at : m_valueLines)
            at += at >= index ? 1 : 0;
        for (qsizetype& at : m_lastLines)
            at += at >= index ? 1 : 0;
    }
    AddToIndex(line, index);
    m_lines.insert(m_lines.begin() + index, std::move(line));
    m_modified = true;
}

void CRegistryHive::AddToIndex(const Line& line, qsizetype index) {
    if (line.kind == Kind::Other)
        return;
    const QString key = FoldedKey(line.key);
    const auto last = m_lastLines.constFind(key);
    if (last == m_lastLines.cend() || *last < index)
        m_lastLines.insert(key, index);
    if (line.kind == Kind::Value) {
        m_valueLines.insert(ValueId(line.key, line.name), index);
        return;
    }
    // A header makes its key exist, and every key above it.
    for (qsizetype end = key.size(); end > 0; end = key.lastIndexOf(QLatin1Char('\\'), end - 1)) {
        if (m_keys.contains(key.left(end)))
            break;
        m_keys.insert(key.left(end));
    }
}
