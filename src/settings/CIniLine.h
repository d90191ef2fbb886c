#pragma once

#include <QByteArray>

// What one line of the legacy INI file means to the import. There is no comment syntax: a
// line is a section header, a value line, or skipped.
class CIniLine {
public:
    enum class Kind { Skipped, Section, Value };

    // White space at both ends of the line, its line end among it, does not count.
    static CIniLine Classify(const QByteArray& line);

    Kind m_kind = Kind::Skipped;
    QByteArray m_section; // the header's name, trimmed; empty names the application key
    QByteArray m_name;    // before the first "=", blanks kept; empty names the unnamed value
    QByteArray m_value;   // after the first "=", blanks kept
};
