#pragma once
// The server certificates the user trusted by hand, one per host and port, in
// "certificates.txt" of the data folder. A line: host (lower case), port, the SHA-256
// fingerprint ("AB:CD:..."), separated by single spaces. Lines of another form are kept
// as they are and otherwise ignored.
//
// Usage:
//   const std::string file = KnownCertificatesPath(GetDataFolder());
//   std::string fingerprint = FindKnownCertificate(file, "ftp.example.org", 21);
//   RememberKnownCertificate(file, "ftp.example.org", 21, fingerprint, &error);

#include <string>

std::string KnownCertificatesPath(const std::string& dataFolder);

// The fingerprint trusted for host and port, empty when none.
std::string FindKnownCertificate(const std::string& path, const std::string& host, int port);

// Trusts the fingerprint for host and port, replacing what was trusted there before.
bool RememberKnownCertificate(const std::string& path, const std::string& host, int port,
                              const std::string& fingerprint, std::string* error = nullptr);
