#pragma once

#include <QString>

// The folder that holds the registry hive and stands in for the Windows directory.
// Nothing here creates it: the first write that needs it does.
class CConfigFolder {
public:
    // $BUMPLE_CONFIG_DIR when set and non-empty, else ${XDG_CONFIG_HOME:-$HOME/.config}
    // followed by "/Quellmoor Software".
    static QString Path();
    static QString HivePath();
    // Where the legacy INI file is looked for.
    static QString WindowsDirectory();
};
