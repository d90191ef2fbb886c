#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

// One REGEDIT4 file held in memory. It does no I/O, so any bytes at all can be fed to it.
//
// Format: "REGEDIT4", a blank line, then "[key path]" headers, each followed by its REG_SZ
// values as "name"="data" lines; @="data" is the unnamed value. Inside the quotes \\ stands for
// a backslash, \" for a quote, \n, \r and \t for line feed, carriage return and tab, and \xHH
// (two hex digits) for any other byte below 0x20 and for 0x7F. Every other byte, UTF-8 among
// them, is written as it is, so any byte string round-trips.
//
// Typed values of a regedit export read as their data: dword:HHHHHHHH as its four bytes, low
// byte first, and hex:, hex(N): as the bytes listed (a line ending in "\\" goes on in the next
// one). In a "Windows Registry Editor Version 5.00" export the text types hex(1), hex(2) and
// hex(7) hold UTF-16LE, which reads as UTF-8. Such an export, also in UTF-16LE with a
// byte-order mark, is read as if it were the UTF-8 REGEDIT4 file that its first change
// writes whole; a file that begins with that mark but is no UTF-16 with the registry editor's
// header is read as bytes like any other. A UTF-8 byte-order mark is skipped and kept. Key names
// that are no valid UTF-8 read as Windows-1252 (CAnsiText).
//
// Reading is tolerant. A line is a header, a value, or anything else: comments, blank lines,
// other value types, broken quotes, unknown escapes, values with no key above them. Lines of
// the last kind are kept as they stand. Every line keeps its exact bytes until it is changed,
// so an unchanged hive serializes to the file it came from ("REGEDIT4" is put in front when
// the file lacks it). A line that starts with "[" but is no good header ends the key above it,
// so that values below it are never taken for that key's. Line ends may be LF or CRLF; new
// lines follow the file's first line.
//
// Keys and value names compare case-insensitively. A key with two headers holds the values
// of both; a value named twice reads as the later line, as regedit would import it, and a
// change rewrites that line. A key exists when it or a key below it has a header. A path's
// first component names a predefined root, which always exists and never gets a header.
// Key paths given to AddKey and SetValue hold no control characters (CRegistry checks).
class CRegistryHive {
public:
    static CRegistryHive Parse(const QByteArray& fileContent);
    QByteArray Serialize() const;

    bool HasKey(const QString& keyPath) const;
    // Adds headers for the key and for every missing key above it, at the end of the file.
    void AddKey(const QString& keyPath);
    // An empty name is the unnamed value.
    std::optional<QByteArray> Value(const QString& keyPath, const QByteArray& name) const;
    // Replaces the value, or adds it at the end of its key; setting a REG_SZ value to the text
    // it holds changes nothing.
    void SetValue(const QString& keyPath, const QByteArray& name, const QByteArray& data);
    // Whether anything changed since Parse: only then is there anything to save.
    bool IsModified() const { return m_modified; }

private:
    enum class Kind { Other, Header, Value };
    struct Line {
        Kind kind = Kind::Other;
        QByteArray text; // the exact bytes, without the line feed
        QString key;     // the key a header opens or a value belongs to
        QByteArray name;
        QByteArray data;
        bool sz = false; // a quoted REG_SZ value, not a typed one
    };

    // text is the exact bytes, content what they say once continuation lines are joined.
    static Line Classify(const QByteArray& text, const QByteArray& content,
                         std::optional<QString>& currentKey, bool unicodeExport);
    // Reads ask for the same key again and again: its folded form is kept.
    QString FoldedKey(const QString& keyPath) const;
    QByteArray ValueId(const QString& keyPath, const QByteArray& name) const;
    Line HeaderLine(const QString& keyPath) const;
    Line ValueLine(const QString& keyPath, const QByteArray& name, const QByteArray& data) const;
    // Index of the last header or value line of the key, or -1.
    qsizetype LastLineOf(const QString& keyPath) const;
    qsizetype ValueIndex(const QString& keyPath, const QByteArray& name) const;
    void AppendHeader(const QString& keyPath);
    void Insert(qsizetype index, Line line);
    void AddToIndex(const Line& line, qsizetype index);

    std::vector<Line> m_lines;
    QByteArray m_byteOrderMark; // a UTF-8 one the file began with, kept in front of it
    bool m_finalLineFeed = true;
    bool m_crlf = false;
    bool m_modified = false;
    // Lookups by case-folded names, so that a read does not scan the file.
    QHash<QByteArray, qsizetype> m_valueLines; // key and value name -> the value's line
    QHash<QString, qsizetype> m_lastLines;     // key -> its last header or value line
    QSet<QString> m_keys;                      // keys with a header, and every key above them
    // The key FoldedKey last folded, its folded form and the start of its values' ids.
    mutable QString m_foldedFor;
    mutable QString m_folded;
    mutable QByteArray m_valueIdPrefix;
};
