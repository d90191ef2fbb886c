// Changes the hive from a process of its own, for tests that run several at once or kill them.
//
//   helper_hivewriter write PREFIX COUNT [SIZE]
//       writes Settings\PREFIX<i> = "<i>" padded with "x" to SIZE bytes, for i below COUNT,
//       printing each name as soon as its write has reported success
//   helper_hivewriter list COUNT LENGTH
//       COUNT times, as one unit each, the name list of round r: ComboName<i> = "<r>.<i>" for
//       i below LENGTH and ComboNameSel = r, printing r once the unit is written
//   helper_hivewriter start
//       the application's first steps: the application key opened, the legacy import when it is
//       new; prints "new" or "existing"
//
// Exits 0 when everything succeeded, 1 when something failed, 2 on bad arguments.

#include "CProfileStore.h"
#include "SettingsTable.h"

#include <cstdio>
#include <cstdlib>

namespace {

void Report(const QString& line) {
    std::puts(line.toUtf8().constData());
    std::fflush(stdout);
}

int Write(const QString& prefix, int count, int size) {
    CProfileStore store;
    store.m_strKeyPath = SettingsTable::kKeyPath;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        const QString name = prefix + QString::number(i);
        const QString value = QString::number(i).leftJustified(size, QLatin1Char('x'));
        if (store.WriteProfileString(SettingsTable::kSection, name, value))
            Report(name);
        else
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}

int WriteLists(int count, int length) {
    CProfileStore store;
    using namespace SettingsTable;
    store.m_strKeyPath = kKeyPath;
    int failures = 0;
    for (int round = 0; round < count; ++round) {
        store.BeginWriteUnit();
        for (int i = 0; i < length; ++i)
            store.WriteProfileString(kSection, ComboName(i),
                                     QStringLiteral("%1.%2").arg(round).arg(i));
        store.WriteProfileInt(kSection, kComboNameSel, round);
        if (store.EndWriteUnit())
            Report(QString::number(round));
        else
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}

int Start() {
    CProfileStore store;
    DWORD disposition = 0;
    if (!store.OpenApplicationKey(&disposition))
        return 1;
    Report(disposition == REG_CREATED_NEW_KEY ? QStringLiteral("new") : QStringLiteral("existing"));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("write") && (argc == 4 || argc == 5))
        return Write(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]),
                     argc == 5 ? std::atoi(argv[4]) : 0);
    if (mode == QLatin1String("list") && argc == 4)
        return WriteLists(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == QLatin1String("start") && argc == 2)
        return Start();
    std::fputs("usage: helper_hivewriter write PREFIX COUNT [SIZE] | list COUNT LENGTH | start\n",
               stderr);
    return 2;
}
