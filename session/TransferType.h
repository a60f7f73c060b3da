#pragma once
// Which representation type a file is transferred in.

#include <string>

enum TransferType : int {
    TRANSFER_ASCII = 0,
    TRANSFER_BINARY = 1,
    TRANSFER_AUTO = 2,  // by the file's extension
};

// The type to use for `fileName` when the session is set to `sessionType`. For
// TRANSFER_AUTO the name's extension (after its last ".", none when that dot lies before
// the last path separator) decides: ASCII when it is one of the items of `textExtensions`
// that is followed by ";" (case-sensitive), otherwise binary. A partial item never
// matches: "x.t" is binary although "txt;" is listed, since sending a binary file in
// ASCII mode would corrupt it.
int ChooseTransferTypeFor(const std::string& fileName, int sessionType,
                          const std::string& textExtensions);
