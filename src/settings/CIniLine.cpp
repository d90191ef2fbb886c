#include "CIniLine.h"

CIniLine CIniLine::Classify(const QByteArray& line) {
    const QByteArray text = line.trimmed();
    CIniLine result;
    // A header starts with "[" and its first "]" is its last character.
    const qsizetype open = text.indexOf('[');
    const qsizetype close = text.indexOf(']');
    if (open >= 0 && close >= 0 && close - open + 1 == text.size()) {
        result.m_kind = Kind::Section;
        result.m_section = text.mid(1, text.size() - 2).trimmed();
        return result;
    }
    const qsizetype equals = text.indexOf('=');
    if (equals >= 0) {
        result.m_kind = Kind::Value;
        result.m_name = text.left(equals);
        result.m_value = text.mid(equals + 1);
    }
    return result;
}
