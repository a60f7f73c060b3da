#pragma once
// A stand-in for a view that is not built yet: read-only plain text under its name, so the
// frame's layout is complete and testers can find the area by its accessible name.

#include <QPlainTextEdit>

class PlaceholderPane : public QPlainTextEdit {
    Q_OBJECT
public:
    PlaceholderPane(const QString& name, const QString& text, QWidget* parent = nullptr);
};
