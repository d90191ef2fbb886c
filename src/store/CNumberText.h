#pragma once

#include <QString>

// Numbers at the start of a text, read as the C library's "%d" and "%f" conversions read
// them: leading white space skipped, an optional sign, digits, and whatever follows ignored.
// Hexadecimal, "nan" and "inf" are not numbers here.
class CNumberText {
public:
    // False when the text does not begin with a number; values beyond int saturate.
    static bool ScanInt(const QString& text, int* pValue);
    // False when the text does not begin with a number; a value beyond float's range
    // reads as an infinity.
    static bool ScanFloat(const QString& text, float* pValue);
};
