#include "sites/SpecialFolders.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

namespace {

TEST(SpecialFolders, NamesAndShortFormsMapToTheSameFolder)
{
    const std::pair<const char*, const char*> pairs[] = {
        {"my computer", "mycom"}, {"control panel", "ctrl"}, {"my documents", "mydoc"},
        {"recent documents", "recdoc"}, {"my profile", "myprof"}, {"network neighborhood", "nethood"},
        {"progam files", "prog"}, {"start menu", "smenu"}, {"common start menu", "csmenu"},
        {"common startup", "cstartup"}, {"recycle bin", "recbin"}, {"my pictures", "mypic"},
    };
    for (const auto& [name, shortForm] : pairs) {
        ASSERT_TRUE(LookupSpecialFolder(name).has_value()) << name;
        EXPECT_EQ(LookupSpecialFolder(name), LookupSpecialFolder(shortForm)) << name;
    }
    EXPECT_FALSE(LookupSpecialFolder("Desktop").has_value()) << "names are compared with case";
    EXPECT_FALSE(LookupSpecialFolder("documents").has_value());
}

TEST(SpecialFolders, PathEntriesResolveToFreedesktopFolders)
{
    XdgTempFolder tmp;
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", tmp.Path().c_str(), 1);
    tmp.Write("config/user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                       "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                                       "XDG_PICTURES_DIR=\"/srv/pictures\"\n");
    const XdgSpecialFolderResolver resolver;
    struct Case {
        const char* typed;
        std::string expected;
    };
    const Case cases[] = {
        {"  desktop ", tmp.Path() + "/Schreibtisch"},
        {"mypic", "/srv/pictures"},
        {"mydoc", tmp.Path() + "/Documents"},
        {"myprof", tmp.Path()},
        {"recbin", tmp.Path() + "/data/Trash/files"},
        {"startup", tmp.Path() + "/config/autostart"},
        {"ctrl", "ctrl"},                 // no such folder here: kept as typed
        {"printers", "printers"},
        {"/var/tmp", "/var/tmp"},
        {"   ", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolvePathEntry(c.typed, resolver), c.expected) << c.typed;
    ::setenv("HOME", savedHome.c_str(), 1);
}

} // namespace
