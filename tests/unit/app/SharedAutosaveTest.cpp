// "autosave.tvq" shared by the window and `tollvane-cli run`: each save keeps what the
// other writer put there since, and drops only its own old entries.

#include "app/lib/SharedAutosave.h"

#include <gtest/gtest.h>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include "tests/support/TempFolder.h"

TEST(SharedAutosave, EntriesAddedSinceAreThoseNotLoaded)
{
    struct Case {
        const char* name;
        std::string loaded;
        std::string current;
        std::string expected;
    };
    const Case cases[] = {
        {"nothing loaded keeps all", "", "[a]\nx\ny\n\n", "[a]\nx\ny\n\n"},
        {"unchanged file adds nothing", "[a]\nx\n\n", "[a]\nx\n\n", ""},
        {"a run appended a host", "[a]\nx\n\n", "[a]\nx\n\n[b]\nz\n\n", "[b]\nz\n\n"},
        {"a run left one more entry of the same host", "[a]\nx\n\n", "[a]\nx\nw\n\n", "[a]\nw\n\n"},
        {"repeats count once each", "[a]\nx\n\n", "[a]\nx\nx\n\n", "[a]\nx\n\n"},
        {"the same line under another host is new", "[a]\nx\n\n", "[b]\nx\n\n", "[b]\nx\n\n"},
        {"entries finished by the window stay gone", "[a]\nx\ny\n\n", "[a]\ny\n\n", ""},
        {"CR LF line ends read alike", "[a]\r\nx\r\n\r\n", "[a]\nx\n\n[c]\r\nq\r\n\r\n", "[c]\nq\n\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EntriesAddedSince(c.loaded, c.current), c.expected) << c.name;
}

TEST(SharedAutosave, TheLockExcludesAnotherHolder)
{
    TempFolder folder;
    const std::string path = folder.File("autosave.tvq");
    AutosaveLock lock(path);
    ASSERT_TRUE(lock.IsLocked());
    // Another process's attempt (a separate open file description) is refused meanwhile.
    const int other = ::open((path + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
}
