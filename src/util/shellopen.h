#pragma once

#include <QString>

// Opens a path with the program the desktop associates with it; the outcome is
// not checked.
void ShellOpen(const QString& path);
