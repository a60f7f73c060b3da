#include "ui/PlaceholderPane.h"

PlaceholderPane::PlaceholderPane(const QString& name, const QString& text, QWidget* parent)
    : QPlainTextEdit(parent)
{
    setAccessibleName(name);
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setPlainText(text);
    setMinimumSize(10, 10);
}
