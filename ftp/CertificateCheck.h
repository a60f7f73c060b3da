#pragma once
// How a control connection judges the server's certificate, and how it is described to
// the user. The certificate's texts come from the server: they are plain, bounded text.
//
// Usage:
//   switch (JudgeCertificate(layer.PeerCertificate(), session.PinnedCertificate())) { ... }
//   session.Log(DescribeCertificate(certificate), LOG_ERROR);

#include <string>

#include "net/SslSocketLayer.h"

enum class CertificateVerdict {
    Verified,       // the system's trust store vouches for it and the host name matches
    Pinned,         // the very certificate the user trusted for this host and port
    Changed,        // the user trusted another certificate here: refused, never asked
    Unknown,        // nobody vouches for it: the user may trust it
};

// pinned: the fingerprint remembered for the host and port ("AB:CD:..."), empty if none.
CertificateVerdict JudgeCertificate(const CTlsCertificate& certificate, const std::string& pinned);

// Several lines: why it is not trusted, its SHA-256 fingerprint, subject, issuer, validity.
std::string DescribeCertificate(const CTlsCertificate& certificate);

// "SHA256:AB:CD:..." in the form the log and --trust-certificate use.
std::string FingerprintText(const std::string& sha256);

// Normalises a fingerprint the user typed ("SHA256:abcd...", with or without colons) to
// "AB:CD:..."; empty when it is not 32 bytes of hex.
std::string NormaliseFingerprint(const std::string& text);
