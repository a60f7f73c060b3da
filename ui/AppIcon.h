#pragma once
// The program's icon: the desktop theme's "tollvane" where it is installed, else the same
// picture drawn here (two sites, files travelling both ways), so an uninstalled build has
// it too.

#include <QIcon>

QIcon ApplicationIcon();
