#include "ftp/CertificateCheck.h"

#include <cctype>

CertificateVerdict JudgeCertificate(const CTlsCertificate& certificate, const std::string& pinned)
{
    // A remembered certificate is the one for this server, whoever else vouches for a
    // different one: a change is refused loudly.
    if (!pinned.empty())
        return pinned == certificate.sha256 ? CertificateVerdict::Pinned : CertificateVerdict::Changed;
    if (certificate.verified && !certificate.sha256.empty())
        return CertificateVerdict::Verified;
    return CertificateVerdict::Unknown;
}

std::string FingerprintText(const std::string& sha256)
{
    return "SHA256:" + sha256;
}

std::string DescribeCertificate(const CTlsCertificate& certificate)
{
    std::string text;
    if (!certificate.problem.empty())
        text += "Problem: " + certificate.problem + "\n";
    text += "Fingerprint: " + FingerprintText(certificate.sha256) + "\n";
    text += "Subject: " + certificate.subject + "\n";
    text += "Issuer: " + certificate.issuer + "\n";
    text += "Valid from " + certificate.notBefore + " to " + certificate.notAfter;
    return text;
}

std::string NormaliseFingerprint(const std::string& text)
{
    std::string rest = text;
    if (rest.size() >= 7) {
        std::string prefix = rest.substr(0, 7);
        for (char& c : prefix)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (prefix == "SHA256:")
            rest = rest.substr(7);
    }
    std::string hex;
    for (char c : rest) {
        if (c == ':')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
        hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (hex.size() != 64)
        return {};
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        if (i)
            out += ':';
        out += hex.substr(i, 2);
    }
    return out;
}
