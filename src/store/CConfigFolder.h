#pragma once

#include <QByteArray>

// The folder that holds the registry hive and stands in for the Windows directory.
// Nothing here creates it: the first write that needs it does. Paths are the file system's
// bytes as the environment gives them, whatever their encoding: a name that is no valid UTF-8
// names the folder it names, never another one.
class CConfigFolder {
public:
    // $BUMPLE_CONFIG_DIR when set and non-empty, else ${XDG_CONFIG_HOME:-$HOME/.config}
    // followed by "/Quellmoor Software".
    static QByteArray Path();
    static QByteArray HivePath();
    // Where the legacy INI file is looked for.
    static QByteArray WindowsDirectory();
};
