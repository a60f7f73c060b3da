// The FEAT reply as the client reads it: a table of reply shapes, and the facts asked for.
#include <gtest/gtest.h>

#include <string>

#include "ftp/ServerFeatures.h"

namespace {

TEST(ServerFeatures, FeatRepliesOfEveryShape)
{
    const struct {
        const char* what;
        std::string reply;
        bool known, mlst, utf8, epsv;
        const char* facts;
        bool mdtm = false;
    } cases[] = {
        {"full list", "211-Features:\r\n MDTM\r\n MLST type*;size*;modify*;\r\n UTF8\r\n EPSV\r\n EPRT\r\n211 End\r\n",
         true, true, true, true, "type*;size*;modify*;", true},
        {"lower case, bare LF", "211-Features:\n mlst type*;\n utf8\n mdtm\n211 End\n", true, true, true, false, "type*;",
         true},
        {"MLSD named alone", "211-x\r\n MLSD\r\n211 End\r\n", true, true, false, false, ""},
        {"one line, nothing", "211 No features\r\n", false, false, false, false, ""},
        {"refused", "500 Unknown command\r\n", false, false, false, false, ""},
        {"lines without the leading blank", "211-Features:\r\nUTF8\r\nMLST type;\r\n211 End\r\n", true, false, false,
         false, ""},
        {"overlong line ignored", "211-Features:\r\n MLST " + std::string(600, 'x') + "\r\n UTF8\r\n211 End\r\n", true,
         false, true, false, ""},
        {"UTF8 as part of a word only", "211-Features:\r\n UTF8X\r\n XUTF8\r\n211 End\r\n", true, false, false, false,
         ""},
        {"endless list stops reading", "211-Features:\r\n" + [] {
             std::string lines;
             for (int i = 0; i < 300; ++i)
                 lines += " X" + std::to_string(i) + "\r\n";
             return lines;
         }() + " UTF8\r\n211 End\r\n",
         true, false, false, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ServerFeatures features = ParseFeatReply(c.reply);
        EXPECT_EQ(features.known, c.known);
        EXPECT_EQ(features.mlst, c.mlst);
        EXPECT_EQ(features.utf8, c.utf8);
        EXPECT_EQ(features.epsv, c.epsv);
        EXPECT_EQ(features.mlstFacts, c.facts);
        EXPECT_EQ(features.mdtm, c.mdtm);
    }
}

TEST(ServerFeatures, OnlyOfferedFactsAreAskedFor)
{
    const struct {
        const char* offered;
        const char* wanted;
    } cases[] = {
        {"type*;size*;modify*;perm*;unix.mode;", "type;size;modify;unix.mode;"},
        {"Type*;Size*;", "type;size;"},
        {"perm*;unique*;", ""},
        {"filetype*;sizes;modified;", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WantedMlstFacts(c.offered), c.wanted) << c.offered;
}

} // namespace
