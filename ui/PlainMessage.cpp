#include "ui/PlainMessage.h"

#include <QMessageBox>

QMessageBox* ShowPlainMessage(QWidget* parent, const QString& text, const QString& caption)
{
    auto* box = new QMessageBox(QMessageBox::Information, caption, text, QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    box->setObjectName(QStringLiteral("plainMessage"));
    box->setAccessibleName(QStringLiteral("Message"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}
