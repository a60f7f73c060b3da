#include "sites/KnownCertificates.h"

#include "sites/AtomicFile.h"

#include <cctype>
#include <sstream>

namespace {

constexpr char kFileName[] = "certificates.txt";

std::string KeyOf(const std::string& host, int port)
{
    std::string key;
    for (char c : host)
        key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key + " " + std::to_string(port) + " ";
}

}  // namespace

std::string KnownCertificatesPath(const std::string& dataFolder)
{
    return dataFolder + kFileName;
}

std::string FindKnownCertificate(const std::string& path, const std::string& host, int port)
{
    std::string contents;
    if (!sites::ReadWholeFile(path, contents))
        return {};
    const std::string key = KeyOf(host, port);
    std::istringstream lines(contents);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, key.size(), key) == 0)
            return line.substr(key.size());
    }
    return {};
}

bool RememberKnownCertificate(const std::string& path, const std::string& host, int port,
                              const std::string& fingerprint, std::string* error)
{
    // A name holding blanks or line breaks would break the line format.
    for (char c : host + fingerprint) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == '\0') {
            if (error)
                *error = "host name or fingerprint holds a blank";
            return false;
        }
    }
    std::string contents;
    sites::ReadWholeFile(path, contents);
    const std::string key = KeyOf(host, port);
    std::string kept;
    std::istringstream lines(contents);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, key.size(), key) != 0)
            kept += line + "\n";
    }
    kept += key + fingerprint + "\n";
    return sites::WriteFileAtomically(path, kept, 0600, error);
}
