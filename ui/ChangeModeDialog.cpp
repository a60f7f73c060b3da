#include "ui/ChangeModeDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

ChangeModeDialog::ChangeModeDialog(const std::string& attribute, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("changeModeDialog"));
    setWindowTitle(QStringLiteral("Change Permission"));
    setAccessibleName(QStringLiteral("Change Permission"));
    auto* layout = new QGridLayout(this);
    const QString whos[] = {QStringLiteral("User"), QStringLiteral("Group"), QStringLiteral("Others")};
    const QString whats[] = {QStringLiteral("Read"), QStringLiteral("Write"), QStringLiteral("Execute")};
    const char letters[] = {'r', 'w', 'x'};
    for (int what = 0; what < 3; ++what)
        layout->addWidget(new QLabel(whats[what], this), 0, what + 1);
    for (int who = 0; who < 3; ++who) {
        layout->addWidget(new QLabel(whos[who], this), who + 1, 0);
        for (int what = 0; what < 3; ++what) {
            auto* check = new QCheckBox(this);
            check->setAccessibleName(whos[who] + QLatin1Char(' ') + whats[what]);
            const std::size_t at = std::size_t(1 + who * 3 + what);
            check->setChecked(attribute.size() >= 10 && attribute[at] != '-' &&
                              (attribute[at] == letters[what] || (what == 2 && (attribute[at] == 's' || attribute[at] == 't'))));
            m_boxes[std::size_t(who * 3 + what)] = check;
            layout->addWidget(check, who + 1, what + 1);
        }
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons, 4, 0, 1, 4);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

std::string ChangeModeDialog::modeText() const
{
    std::string mode;
    for (int who = 0; who < 3; ++who) {
        int digit = 0;
        if (box(who, 0)->isChecked()) digit += 4;
        if (box(who, 1)->isChecked()) digit += 2;
        if (box(who, 2)->isChecked()) digit += 1;
        mode += char('0' + digit);
    }
    return mode;
}
