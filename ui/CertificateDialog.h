#pragma once
// "Server Certificate": a certificate nobody vouches for, or one that replaced the
// certificate trusted before. The user refuses it (the default, also Escape and closing
// the window), trusts it for this connection, or always for the host and port. Every
// text of the certificate comes from the server and is shown as plain text.

#include "session/SessionUi.h"

#include <QDialog>

class QPushButton;

class CertificateDialog : public QDialog {
    Q_OBJECT
public:
    explicit CertificateDialog(const CCertificateQuestion& question, QWidget* parent = nullptr);

    // A CertificateTrust: CERT_REFUSE until the user chose otherwise.
    int answer() const { return m_answer; }
    QPushButton* refuseButton() const { return m_refuse; }
    QPushButton* trustOnceButton() const { return m_trustOnce; }
    QPushButton* alwaysTrustButton() const { return m_alwaysTrust; }

private:
    void choose(int trust);

    int m_answer = CERT_REFUSE;
    QPushButton* m_refuse = nullptr;
    QPushButton* m_trustOnce = nullptr;
    QPushButton* m_alwaysTrust = nullptr;
};
