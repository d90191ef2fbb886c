#include "CNumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace {
bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Skips white space and a sign; returns the position of what follows.
const char* SkipSpaceAndSign(const char* p, const char* end, bool* pNegative) {
    while (p != end && IsSpace(*p))
        ++p;
    *pNegative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        *pNegative = *p == '-';
        ++p;
    }
    return p;
}
} // namespace

bool CNumberText::ScanInt(const QString& text, int* pValue) {
    const QByteArray bytes = text.toUtf8();
    const char* end = bytes.constData() + bytes.size();
    bool negative = false;
    const char* p = SkipSpaceAndSign(bytes.constData(), end, &negative);
    if (p == end || !IsDigit(*p))
        return false;
    long long value = 0;
    for (; p != end && IsDigit(*p); ++p)
        value = std::min<long long>(value * 10 + (*p - '0'), 1LL << 40);
    value = negative ? -value : value;
    *pValue = int(std::clamp<long long>(value, std::numeric_limits<int>::min(),
                                        std::numeric_limits<int>::max()));
    return true;
}

bool CNumberText::ScanFloat(const QString& text, float* pValue) {
    const QByteArray bytes = text.toUtf8();
    const char* end = bytes.constData() + bytes.size();
    bool negative = false;
    const char* start = SkipSpaceAndSign(bytes.constData(), end, &negative);
    const char* p = start;
    int digits = 0;
    for (; p != end && IsDigit(*p); ++p)
        ++digits;
    if (p != end && *p == '.')
        for (++p; p != end && IsDigit(*p); ++p)
            ++digits;
    if (digits == 0)
        return false;
    // An exponent counts only when digits follow it.
    if (p != end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        if (q != end && (*q == '+' || *q == '-'))
            ++q;
        if (q != end && IsDigit(*q)) {
            p = q;
            while (p != end && IsDigit(*p))
                ++p;
        }
    }
    float value = 0.0f;
    const auto result = std::from_chars(start, p, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Either too large (an infinity) or too small (zero); tell them apart by the
        // exponent's sign.
        const bool tiny =
            std::string_view(start, size_t(p - start)).find("e-") != std::string_view::npos ||
            std::string_view(start, size_t(p - start)).find("E-") != std::string_view::npos;
        value = tiny ? 0.0f : std::numeric_limits<float>::infinity();
    }
    *pValue = negative ? -value : value;
    return true;
}
