#pragma once
// "Confirm Transfer": asked before a download, upload or site-to-site copy from the panes
// when the "pTransfer" setting is on. "Add to queue only" queues without starting.

#include <QDialog>

class QCheckBox;

class TransferConfirmDialog : public QDialog {
    Q_OBJECT
public:
    explicit TransferConfirmDialog(QWidget* parent = nullptr);
    bool queueOnly() const;
    QCheckBox* queueOnlyBox() const { return m_queueOnly; }

private:
    QCheckBox* m_queueOnly;
};
