// The judgement of a server certificate and the fingerprints the user types.
#include "ftp/CertificateCheck.h"

#include <gtest/gtest.h>

namespace {

const std::string kHex = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
const std::string kColons =
    "01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF";

TEST(CertificateCheck, JudgesByThePinFirstThenTheTrustStore)
{
    struct Case {
        const char* what;
        bool verified;
        const char* pinned;
        CertificateVerdict verdict;
    };
    const Case cases[] = {
        {"vouched for, nothing pinned", true, "", CertificateVerdict::Verified},
        {"unknown, nothing pinned", false, "", CertificateVerdict::Unknown},
        {"unknown, this one pinned", false, "AA:BB", CertificateVerdict::Pinned},
        {"unknown, another one pinned", false, "CC:DD", CertificateVerdict::Changed},
        // A certificate a store vouches for does not replace the one the user trusted.
        {"vouched for, another one pinned", true, "CC:DD", CertificateVerdict::Changed},
    };
    for (const Case& c : cases) {
        CTlsCertificate certificate;
        certificate.sha256 = "AA:BB";
        certificate.verified = c.verified;
        EXPECT_EQ(JudgeCertificate(certificate, c.pinned), c.verdict) << c.what;
    }
}

TEST(CertificateCheck, NormalisesTypedFingerprints)
{
    struct Case {
        std::string typed;
        std::string normal;
    };
    std::string lower = kHex;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const Case cases[] = {
        {"SHA256:" + kColons, kColons},
        {"sha256:" + lower, kColons},
        {kHex, kColons},
        {"SHA256:" + kHex.substr(2), ""},       // too short
        {"SHA256:" + kHex + "00", ""},          // too long
        {"SHA256:" + kHex.substr(1) + "G", ""}, // not hex
        {"SHA1:" + kHex, ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NormaliseFingerprint(c.typed), c.normal) << c.typed;
}

TEST(CertificateCheck, DescriptionNamesEveryFact)
{
    CTlsCertificate certificate{"AA:BB", "CN=s", "CN=i", "Jan 1 2026", "Jan 1 2027", false, "self-signed certificate"};
    const std::string text = DescribeCertificate(certificate);
    for (const char* part : {"SHA256:AA:BB", "Subject: CN=s", "Issuer: CN=i", "Jan 1 2026", "Jan 1 2027", "self-signed"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
}

}  // namespace
