#pragma once
// A message box over a dialog: plain text only (server and file names may hold markup),
// opened without blocking the caller, gone when dismissed.

#include <QString>

class QMessageBox;
class QWidget;

QMessageBox* ShowPlainMessage(QWidget* parent, const QString& text,
                              const QString& caption = QStringLiteral("Tollvane"));
