// The period text as typed: any bytes give a clean accept or reject, and an accepted period
// lies between 1 and 60 minutes (Debug: always 15 s).

#include "CBumpleView.h"
#include "CNumberText.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    int seconds = -1;
    if (CBumpleView::PeriodSeconds(text, FALSE, &seconds) && (seconds < 60 || seconds > 3660))
        std::abort();
    if (!CBumpleView::PeriodSeconds(text, TRUE, &seconds) || seconds != 15)
        std::abort();
    int value = 0;
    CNumberText::ScanInt(text, &value);
    return 0;
}
