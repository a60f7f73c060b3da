#include "session/FtpSession.h"

#include "ftp/CertificateCheck.h"
#include "sites/DataFolder.h"
#include "sites/KnownCertificates.h"

std::string CFtpSession::PinnedCertificate() const {
    return FindKnownCertificate(KnownCertificatesPath(GetDataFolder()), host_, port_);
}

int CFtpSession::AskCertificateTrust(const CTlsCertificate& certificate, const std::string& pinned) {
    CCertificateQuestion question;
    question.host = host_;
    question.port = port_;
    question.fingerprint = FingerprintText(certificate.sha256);
    question.subject = certificate.subject;
    question.issuer = certificate.issuer;
    question.notBefore = certificate.notBefore;
    question.notAfter = certificate.notAfter;
    question.problem = certificate.problem;
    if (!pinned.empty())
        question.replaces = FingerprintText(pinned);
    const int answer = Ui().AskCertificateTrust(question);
    return answer == CERT_TRUST_ONCE || answer == CERT_TRUST_ALWAYS ? answer : CERT_REFUSE;
}

void CFtpSession::RememberCertificate(const std::string& sha256) {
    const std::string folder = GetDataFolder();
    std::string error;
    if (!CreateDataFolder(folder) ||
        !RememberKnownCertificate(KnownCertificatesPath(folder), host_, port_, sha256, &error))
        Log("The trusted certificate could not be remembered: " + error, LOG_WARNING);
}
