#include "ui/PanePasteUrlDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

PanePasteUrlDialog::PanePasteUrlDialog(const QStringList& urls, QWidget* parent)
    : QDialog(parent), m_urls(new QPlainTextEdit(this)), m_queueOnly(new QCheckBox(QStringLiteral("Add to &Queue Only"), this)),
      m_forceNew(new QCheckBox(QStringLiteral("Force &New Session"), this)), m_file(new QRadioButton(QStringLiteral("&File"), this)),
      m_folder(new QRadioButton(QStringLiteral("F&older"), this))
{
    setObjectName(QStringLiteral("pasteUrl"));
    setWindowTitle(QStringLiteral("Paste URL"));
    auto* question = new QLabel(QStringLiteral("Are you sure to transfer the following URL?"), this);
    question->setTextFormat(Qt::PlainText);
    question->setBuddy(m_urls);
    m_urls->setObjectName(QStringLiteral("urls"));
    m_urls->setAccessibleName(QStringLiteral("URL"));
    m_urls->setTabChangesFocus(true);
    m_urls->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_urls->setPlainText(urls.join(QLatin1Char('\n')));
    m_urls->setFixedHeight(m_urls->fontMetrics().lineSpacing() * 4 + 12);
    m_queueOnly->setObjectName(QStringLiteral("queueOnly"));
    m_queueOnly->setAccessibleName(QStringLiteral("Add to Queue Only"));
    m_forceNew->setObjectName(QStringLiteral("forceNewSession"));
    m_forceNew->setAccessibleName(QStringLiteral("Force New Session"));
    m_file->setObjectName(QStringLiteral("file"));
    m_file->setAccessibleName(QStringLiteral("File"));
    m_folder->setObjectName(QStringLiteral("folder"));
    m_folder->setAccessibleName(QStringLiteral("Folder"));
    auto* kind = new QButtonGroup(this);
    kind->addButton(m_file);
    kind->addButton(m_folder);
    // A URL ending in "/" names a folder.
    const bool folder = !urls.isEmpty() && urls.front().endsWith(QLatin1Char('/'));
    (folder ? m_folder : m_file)->setChecked(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    const auto updateOk = [this, buttons] { buttons->button(QDialogButtonBox::Ok)->setEnabled(!this->urls().isEmpty()); };
    connect(m_urls, &QPlainTextEdit::textChanged, this, updateOk);
    updateOk();

    auto* kindRow = new QHBoxLayout;
    kindRow->addWidget(m_file);
    kindRow->addWidget(m_folder);
    kindRow->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(m_urls);
    layout->addWidget(m_queueOnly);
    layout->addWidget(m_forceNew);
    layout->addLayout(kindRow);
    layout->addWidget(buttons);
    resize(460, sizeHint().height());
}

QStringList PanePasteUrlDialog::urls() const
{
    QStringList lines;
    for (const QString& line : m_urls->toPlainText().split(QLatin1Char('\n'))) {
        const QString url = line.trimmed();
        if (!url.isEmpty())
            lines.push_back(url);
    }
    return lines;
}

bool PanePasteUrlDialog::queueOnly() const
{
    return m_queueOnly->isChecked();
}

bool PanePasteUrlDialog::forceNewSession() const
{
    return m_forceNew->isChecked();
}

bool PanePasteUrlDialog::isFolder() const
{
    return m_folder->isChecked();
}
