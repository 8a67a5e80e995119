#pragma once

#include <QColor>

// The two system colours of the window that Qt's palette has no role for.

// Behind the title band (COLOR_APPWORKSPACE).
QColor applicationWorkspaceColor();

// The Step list's text (COLOR_DESKTOP).
QColor desktopColor();
