#pragma once
// The main window's stored position and size, fitted to the screens there are now: a
// window saved on a monitor that is gone, or larger than any screen left, comes back
// whole on a screen that exists.

#include <QList>
#include <QRect>

// `saved` moved (and shrunk where needed) into the available area of the screen it
// overlaps most, or of the first screen when it overlaps none. An empty `saved` stays empty.
QRect ClampToScreens(const QRect& saved, const QList<QRect>& screens);
