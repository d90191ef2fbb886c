// Any bytes as one line of the legacy INI file: the classification never crashes, and what it
// finds is what the line holds.

#include "CIniLine.h"

#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray line(reinterpret_cast<const char*>(data), qsizetype(size));
    const CIniLine result = CIniLine::Classify(line);
    const QByteArray text = line.trimmed();
    const bool headerShaped =
        text.startsWith('[') && text.indexOf(']') == text.size() - 1 && !text.isEmpty();
    switch (result.m_kind) {
    case CIniLine::Kind::Section:
        Require(headerShaped && result.m_section == result.m_section.trimmed() &&
                text.contains(result.m_section));
        break;
    case CIniLine::Kind::Value:
        Require(!headerShaped && !result.m_name.contains('=') &&
                result.m_name + '=' + result.m_value == text);
        break;
    case CIniLine::Kind::Skipped:
        Require(!headerShaped && !text.contains('='));
        break;
    }
    return 0;
}
