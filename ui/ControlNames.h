#pragma once
// Every control of a dialog gets an object name (for tests and style sheets) and an
// accessible name (for screen readers).

#include <QLatin1String>
#include <QString>

template <class Widget>
Widget* Named(Widget* widget, const char* objectName, const QString& accessibleName)
{
    widget->setObjectName(QLatin1String(objectName));
    widget->setAccessibleName(accessibleName);
    return widget;
}
