#pragma once

#include <QByteArray>
#include <QString>

// Text that may come from Windows in its ANSI code page. Bytes that are valid UTF-8 are taken
// as UTF-8; any other byte string is taken as Windows-1252, whose every byte stands for a
// character of its own (the five it leaves undefined for the C1 controls of the same number),
// so nothing is ever replaced by U+FFFD and different bytes never read as the same text.
class CAnsiText {
public:
    static QString Decode(const QByteArray& bytes);
    static QString FromWindows1252(const QByteArray& bytes);
};
