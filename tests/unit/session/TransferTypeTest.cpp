#include "session/TransferType.h"

#include <gtest/gtest.h>

#include "sites/Settings.h"

namespace {

struct TypeCase {
    const char* fileName;
    int sessionType;
    int expected;
};

const TypeCase kCases[] = {
    {"notes.txt", TRANSFER_AUTO, TRANSFER_ASCII},
    {"/pub/src/main.cpp", TRANSFER_AUTO, TRANSFER_ASCII},
    {"main.c", TRANSFER_AUTO, TRANSFER_ASCII},           // "c;" stands after a ";"
    {"NOTES.TXT", TRANSFER_AUTO, TRANSFER_BINARY},       // the comparison is case-sensitive
    {"letter.rtf", TRANSFER_AUTO, TRANSFER_BINARY},      // last item, no ";" after it
    {"archive.tar.gz", TRANSFER_AUTO, TRANSFER_BINARY},
    {"README", TRANSFER_AUTO, TRANSFER_BINARY},
    {"trailing.", TRANSFER_AUTO, TRANSFER_BINARY},
    {"/home/v1.txt/image", TRANSFER_AUTO, TRANSFER_BINARY},  // dot before the separator
    {"C:\\dir.txt\\image", TRANSFER_AUTO, TRANSFER_BINARY},
    // Part of an item is not an item: these would be corrupted by an ASCII transfer.
    {"disk.t", TRANSFER_AUTO, TRANSFER_BINARY},
    {"data.l", TRANSFER_AUTO, TRANSFER_BINARY},
    {"page.tml", TRANSFER_AUTO, TRANSFER_BINARY},
    {"odd.txt;ini", TRANSFER_AUTO, TRANSFER_BINARY},
    {"image.bin", TRANSFER_ASCII, TRANSFER_ASCII},
    {"notes.txt", TRANSFER_BINARY, TRANSFER_BINARY},
};

TEST(ChooseTransferTypeFor, DecidesByTypeAndExtension) {
    const CSettings defaults;
    for (const TypeCase& c : kCases) {
        EXPECT_EQ(ChooseTransferTypeFor(c.fileName, c.sessionType, defaults.TextFileExtension),
                  c.expected)
            << c.fileName << " with session type " << c.sessionType;
    }
}

TEST(ChooseTransferTypeFor, ListWrittenByTheOptionsSheetEndsEveryItem) {
    EXPECT_EQ(ChooseTransferTypeFor("letter.rtf", TRANSFER_AUTO, "txt;rtf;"), TRANSFER_ASCII);
    EXPECT_EQ(ChooseTransferTypeFor("letter.rtf", TRANSFER_AUTO, ""), TRANSFER_BINARY);
}

}  // namespace
