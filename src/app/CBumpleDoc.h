#pragma once

#include <QString>

// The document of the single-document program: it holds no data and is never modified,
// so closing it never asks to save.
class CBumpleDoc {
public:
    // A new document keeps the main window hidden when it is first shown.
    bool OnNewDocument(bool* pbShowWindow);
    // A document named on the command line must be readable; its content is not used.
    bool OnOpenDocument(const QString& strPath);
    // A readable regular file. It is never opened: a FIFO or a hung mount would block.
    static bool CanOpen(const QString& strPath);
};
