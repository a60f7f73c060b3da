#include "sites/SiteFile.h"

#include "sites/AtomicFile.h"
#include "sites/PasswordEncoding.h"
#include "platform/TextLineReader.h"
#include "sites/TextUtil.h"

#include <array>

namespace {

// The value of a "key=value" line; the key is not checked, and a line without "=" is
// all value.
std::string ValueOf(const std::string& line)
{
    const size_t eq = line.find('=');
    return sites::Trim(eq == std::string::npos ? std::string_view(line)
                                               : std::string_view(line).substr(eq + 1));
}

constexpr char kEncryptionKey[] = "encryption=";

} // namespace

void LoadSiteFile(const std::string& path, SiteList& list)
{
    CTextLineReader reader(COverlongLine::Cut);
    reader.Open(path);
    std::string line;
    bool haveLine = reader.ReadLine(line);
    while (haveLine) {
        const std::string header = sites::Trim(line);
        haveLine = reader.ReadLine(line);
        if (header.empty() || header[0] != '[')
            continue;
        // The closing bracket is not checked: the name is the header without its first
        // and last character.
        std::string name = header.size() >= 2 ? header.substr(1, header.size() - 2) : std::string();

        std::array<std::string, 9> values;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0)
                haveLine = reader.ReadLine(line);
            if (!haveLine)
                return;
            values[i] = ValueOf(line);
        }
        haveLine = reader.ReadLine(line);

        auto site = std::make_unique<CSiteSetting>();
        site->name = std::move(name);
        site->address = values[0];
        site->port = sites::ParseLeadingInt(values[1]);
        site->username = values[2];
        site->password = DecodePassword(values[3]);
        site->logintype = sites::ParseLeadingInt(values[4]);
        site->hosttype = sites::ParseLeadingInt(values[5]);
        site->deflocaldir = values[6];
        site->defremotedir = values[7];
        site->passive = sites::ParseLeadingInt(values[8]);
        // The optional line after the nine values.
        if (haveLine && sites::Trim(line).rfind(kEncryptionKey, 0) == 0) {
            const int encryption = sites::ParseLeadingInt(ValueOf(line));
            if (encryption >= CSiteSetting::ENCRYPTION_PLAIN && encryption <= CSiteSetting::ENCRYPTION_IMPLICIT)
                site->encryption = encryption;
            haveLine = reader.ReadLine(line);
        }
        list.push_back(std::move(site));
    }
}

std::string FormatSiteFile(const SiteList& list)
{
    std::string out;
    for (const auto& site : list) {
        out += "[" + site->name + "]\n";
        out += "address=" + site->address + "\n";
        out += "port=" + std::to_string(site->port) + "\n";
        out += "username=" + site->username + "\n";
        out += "password=" + EncodePassword(site->password) + "\n";
        out += "logintype=" + std::to_string(site->logintype) + "\n";
        out += "hosttype=" + std::to_string(site->hosttype) + "\n";
        out += "deflocaldir=" + site->deflocaldir + "\n";
        out += "defremotedir=" + site->defremotedir + "\n";
        out += "passive=" + std::to_string(site->passive) + "\n";
        if (site->encryption != CSiteSetting::ENCRYPTION_PLAIN)
            out += kEncryptionKey + std::to_string(site->encryption) + "\n";
        out += "\n";
    }
    return out;
}

bool SaveSiteFile(const std::string& path, const SiteList& list, std::string* error)
{
    return sites::WriteFileAtomically(path, FormatSiteFile(list), 0600, error);
}

std::string SiteFileWriteFailedMessage(const std::string& path, const std::string& reason)
{
    return "Can't save the site list to " + path + "!\n" + reason +
           "\nThe previous site file was kept; your changes last until the program ends.";
}
