#include "SystemColors.h"

#ifdef _WIN32
#include <windows.h>

namespace {
QColor fromColorRef(COLORREF c) {
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}
} // namespace

QColor applicationWorkspaceColor() {
    return fromColorRef(GetSysColor(COLOR_APPWORKSPACE));
}
QColor desktopColor() {
    return fromColorRef(GetSysColor(COLOR_DESKTOP));
}

#else

// Elsewhere, the values of Windows' default scheme since Vista, the systems the
// window was drawn for; the classic scheme's grey 128 would differ only slightly.
QColor applicationWorkspaceColor() {
    return QColor(171, 171, 171);
}
QColor desktopColor() {
    return QColor(0, 0, 0);
}

#endif
