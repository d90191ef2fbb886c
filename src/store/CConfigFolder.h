#pragma once

#include <QByteArray>

// The folder that holds the registry hive and stands in for the Windows directory.
// Only the Bumple that runs makes it, at its start, so that a query makes nothing. Paths are the
// file system's bytes as the environment gives them, whatever their encoding: a name that is no
// valid UTF-8 names the folder it names, never another one.
class CConfigFolder {
public:
    // $BUMPLE_CONFIG_DIR when set and non-empty, else ${XDG_CONFIG_HOME:-$HOME/.config}
    // followed by "/Quellmoor Software".
    static QByteArray Path();
    // The real path of a folder that may not exist yet: links are followed, also to folders
    // still missing, so that a link and its target give one path before and after it is made.
    static QByteArray RealPath(const QByteArray& folder);
    // Makes the folder and those it lies in, through links to folders still missing.
    static bool Make();
    static QByteArray HivePath();
    // Where the legacy INI file is looked for.
    static QByteArray WindowsDirectory();
};
