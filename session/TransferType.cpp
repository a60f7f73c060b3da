#include "session/TransferType.h"

namespace {

std::string ExtensionOf(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos) return {};
    const auto separator = fileName.find_last_of("/\\");
    if (separator != std::string::npos && dot < separator) return {};
    return fileName.substr(dot + 1);
}

// True when `item` + ";" stands in `list` at the start or right after a ";".
bool ListsItem(const std::string& list, const std::string& item) {
    const std::string needle = item + ";";
    for (auto at = list.find(needle); at != std::string::npos; at = list.find(needle, at + 1)) {
        if (at == 0 || list[at - 1] == ';') return true;
    }
    return false;
}

}  // namespace

int ChooseTransferTypeFor(const std::string& fileName, int sessionType,
                          const std::string& textExtensions) {
    if (sessionType == TRANSFER_ASCII || sessionType == TRANSFER_BINARY) return sessionType;
    const std::string extension = ExtensionOf(fileName);
    if (extension.empty() || extension.find(';') != std::string::npos) return TRANSFER_BINARY;
    return ListsItem(textExtensions, extension) ? TRANSFER_ASCII : TRANSFER_BINARY;
}
