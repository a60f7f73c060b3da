#include "sites/SiteManagerModel.h"

#include "sites/SiteFile.h"
#include "tests/support/TempFolder.h"

#include <deque>
#include <gtest/gtest.h>

namespace {

class RecordingPrompts : public SiteManagerPrompts {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    Answer AskYesNoCancel(const std::string& text) override
    {
        questions.push_back(text);
        Answer a = answers.empty() ? Answer::Cancel : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return a;
    }
    void FocusHostAddress() override { ++hostFocused; }

    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::deque<Answer> answers;
    int hostFocused = 0;
};

class SiteManagerModelTest : public ::testing::Test {
protected:
    void AddSite(const std::string& name, const std::string& address)
    {
        auto site = std::make_unique<CSiteSetting>();
        site->name = name;
        site->address = address;
        sites.push_back(std::move(site));
    }
    std::unique_ptr<CSiteManagerModel> Open()
    {
        return std::make_unique<CSiteManagerModel>(sites, tmp.File("site.dat"), "anon@example.com",
                                                   prompts);
    }
    std::vector<std::string> Names(const CSiteManagerModel& m) const
    {
        std::vector<std::string> names;
        for (int i = 0; i < m.Count(); ++i)
            names.push_back(m.ItemText(i));
        return names;
    }
    SiteList LoadedFile() const
    {
        SiteList loaded;
        LoadSiteFile(tmp.File("site.dat"), loaded);
        return loaded;
    }

    XdgTempFolder tmp;
    SiteList sites;
    RecordingPrompts prompts;
};

TEST_F(SiteManagerModelTest, OpensOnTheFirstSiteOrInNewMode)
{
    {
        auto m = Open();
        EXPECT_TRUE(m->InNewMode());
        EXPECT_STREQ(m->NewButtonLabel(), "Add");
        EXPECT_FALSE(m->DeleteEnabled());
        EXPECT_EQ(m->Fields().port, "21");
        EXPECT_EQ(m->Fields().defremotedir, "/");
        EXPECT_EQ(m->Fields().loginRadio, CSiteSetting::LOGIN_ANONYMOUS);
        EXPECT_TRUE(m->Fields().passive);
    }
    AddSite("one", "one.example");
    AddSite("two", "two.example");
    auto m = Open();
    EXPECT_FALSE(m->InNewMode());
    EXPECT_STREQ(m->NewButtonLabel(), "New");
    EXPECT_TRUE(m->DeleteEnabled());
    EXPECT_EQ(m->Selected(), 0);
    EXPECT_EQ(m->Fields().address, "one.example");
}

TEST_F(SiteManagerModelTest, ValidationMessages)
{
    AddSite("Existing", "e.example");
    struct Case {
        const char* title;
        SiteFields fields;
        std::string message; // empty: valid
        std::string nameAfter;
    };
    auto fields = [](std::string name, std::string address) {
        SiteFields f;
        f.name = std::move(name);
        f.address = std::move(address);
        return f;
    };
    auto with = [](SiteFields f, auto change) {
        change(f);
        return f;
    };
    const Case cases[] = {
        {"empty host", fields("x", ""), "Host address can't be empty!", "x"},
        {"empty name takes the host", fields("", "h.example"), "", "h.example"},
        {"duplicate without regard to case", fields("EXISTING", "h"), "Site Name:EXISTING already exist!", "EXISTING"},
        {"new name", fields("other", "h"), "", "other"},
        {"user name with LF", with(fields("a", "h"), [](SiteFields& f) { f.username = "bob\nDELE x"; }),
         "User Name can't contain a line break!", "a"},
        {"password with CR", with(fields("a", "h"), [](SiteFields& f) { f.password = "pw\rQUIT"; }),
         "Password can't contain a line break!", "a"},
        {"site name with LF", fields("a\nb", "h"), "Site Name can't contain a line break!", "a\nb"},
        {"port zero", with(fields("a", "h"), [](SiteFields& f) { f.port = "0"; }),
         "Port must be a number from 1 to 65535!", "a"},
        {"port too big", with(fields("a", "h"), [](SiteFields& f) { f.port = "65536"; }),
         "Port must be a number from 1 to 65535!", "a"},
        {"port not a number", with(fields("a", "h"), [](SiteFields& f) { f.port = "21x"; }),
         "Port must be a number from 1 to 65535!", "a"},
        {"highest port", with(fields("a", "h"), [](SiteFields& f) { f.port = "65535"; }), "", "a"},
    };
    for (const Case& c : cases) {
        auto m = Open();
        m->New(); // new mode: the edited record does not excuse its own name
        prompts.messages.clear();
        m->Fields() = c.fields;
        EXPECT_EQ(m->Validate(), c.message.empty()) << c.title;
        if (c.message.empty())
            EXPECT_TRUE(prompts.messages.empty()) << c.title;
        else
            EXPECT_EQ(prompts.messages, std::vector<std::string>{c.message}) << c.title;
        EXPECT_EQ(m->Fields().name, c.nameAfter) << c.title;
    }
}

TEST_F(SiteManagerModelTest, EditedRecordKeepsItsOwnName)
{
    AddSite("Existing", "e.example");
    auto m = Open();
    m->Fields().name = "EXISTING";
    EXPECT_TRUE(m->Validate());
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(SiteManagerModelTest, EmptyHostFocusesTheHostField)
{
    auto m = Open();
    EXPECT_FALSE(m->Validate());
    EXPECT_EQ(prompts.hostFocused, 1);
}

TEST_F(SiteManagerModelTest, TypingUserOrPasswordChecksNormal)
{
    auto m = Open();
    m->UserOrPasswordEdited();
    EXPECT_EQ(m->Fields().loginRadio, CSiteSetting::LOGIN_NORMAL);
}

TEST_F(SiteManagerModelTest, NewThenAddCreatesARecordWithTheFields)
{
    AddSite("one", "one.example");
    auto m = Open();
    m->Fields().port = "2121";
    m->New(); // stores the edits to "one", then new mode
    EXPECT_TRUE(m->InNewMode());
    EXPECT_EQ(sites[0]->port, 2121);
    m->Fields().address = "two.example";
    m->Fields().username = "bob";
    m->UserOrPasswordEdited();
    m->New(); // reads "Add"
    EXPECT_FALSE(m->InNewMode());
    EXPECT_EQ(Names(*m), (std::vector<std::string>{"one", "two.example"}));
    EXPECT_EQ(m->Selected(), 1);
    EXPECT_EQ(m->Edited(), 1);
    const CSiteSetting* added = m->ItemRecord(1);
    EXPECT_EQ(added->username, "bob");
    EXPECT_EQ(added->logintype, 0);
    EXPECT_EQ(added->defremotedir, "/");
    EXPECT_EQ(added->passive, 1);
    EXPECT_EQ(added->password, ""); // the fields' empty password, not the default
}

TEST_F(SiteManagerModelTest, SelectingStoresTheEditsOrStaysOnAnInvalidRecord)
{
    AddSite("one", "one.example");
    AddSite("two", "two.example");
    auto m = Open();
    m->Fields().deflocaldir = "/tmp";
    EXPECT_TRUE(m->Select(1));
    EXPECT_EQ(sites[0]->deflocaldir, "/tmp");
    EXPECT_EQ(m->Fields().address, "two.example");

    m->Fields().address.clear();
    EXPECT_FALSE(m->Select(0));
    EXPECT_EQ(m->Selected(), 1);
    EXPECT_EQ(prompts.messages.back(), "Host address can't be empty!");
    EXPECT_EQ(sites[1]->address, "two.example");
}

TEST_F(SiteManagerModelTest, UneditedRecordFromTheFileNeverBlocks)
{
    AddSite("broken", ""); // no host address: invalid as it stands
    AddSite("good", "g.example");
    auto m = Open();
    EXPECT_FALSE(m->HasEdits());
    EXPECT_TRUE(m->Select(1));
    EXPECT_TRUE(m->Select(0));
    EXPECT_TRUE(m->Close());
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(LoadedFile().size(), 2u);
}

TEST_F(SiteManagerModelTest, RenamedSiteIsCheckedUnderItsNewName)
{
    AddSite("one", "one.example");
    AddSite("two", "two.example");
    auto m = Open();
    m->Fields().name = "renamed";
    ASSERT_TRUE(m->Select(1));
    EXPECT_EQ(m->ItemText(0), "renamed");
    m->New();
    m->Fields().name = "Renamed";
    m->Fields().address = "x";
    EXPECT_FALSE(m->Validate());
    EXPECT_EQ(prompts.messages.back(), "Site Name:Renamed already exist!");
}

TEST_F(SiteManagerModelTest, RestoreDiscardsEdits)
{
    AddSite("one", "one.example");
    auto m = Open();
    m->Fields().address = "changed";
    m->Restore();
    EXPECT_EQ(m->Fields().address, "one.example");
    m->New();
    m->Fields().address = "typed";
    m->Restore();
    EXPECT_TRUE(m->InNewMode());
    EXPECT_EQ(m->Fields().address, "");
    EXPECT_EQ(m->Fields().defremotedir, "/");
}

TEST_F(SiteManagerModelTest, DeleteSelectsTheNextOrLastItem)
{
    AddSite("a", "a");
    AddSite("b", "b");
    AddSite("c", "c");
    auto m = Open();
    m->Select(1);
    m->Delete();
    EXPECT_EQ(Names(*m), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(m->Selected(), 1);
    EXPECT_EQ(m->Fields().name, "c");
    m->Delete();
    EXPECT_EQ(m->Selected(), 0);
    EXPECT_EQ(m->Fields().name, "a");
    m->Delete();
    EXPECT_TRUE(m->InNewMode());
    EXPECT_FALSE(m->DeleteEnabled());
}

TEST_F(SiteManagerModelTest, DeleteInNewModeLeavesIt)
{
    AddSite("a", "a");
    AddSite("b", "b");
    auto m = Open();
    m->Select(1);
    m->New();
    m->Delete();
    EXPECT_FALSE(m->InNewMode());
    EXPECT_EQ(m->Count(), 2);
    EXPECT_EQ(m->Selected(), 0);
    EXPECT_EQ(m->Fields().name, "a");
}

TEST_F(SiteManagerModelTest, MoveUpAndDownCarryTheEditedRecord)
{
    AddSite("a", "a");
    AddSite("b", "b");
    AddSite("c", "c");
    auto m = Open();
    m->MoveUp(); // first item: nothing
    EXPECT_EQ(Names(*m), (std::vector<std::string>{"a", "b", "c"}));
    m->MoveDown();
    EXPECT_EQ(Names(*m), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(m->Selected(), 1);
    EXPECT_EQ(m->Edited(), 1);
    m->MoveDown();
    m->MoveDown(); // last item: nothing
    EXPECT_EQ(Names(*m), (std::vector<std::string>{"b", "c", "a"}));
    EXPECT_EQ(m->Selected(), 2);
    m->MoveUp();
    EXPECT_EQ(Names(*m), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(m->ItemRecord(m->Edited())->name, "a");
}

TEST_F(SiteManagerModelTest, SortIsCaseSensitiveAndKeepsTheSelection)
{
    AddSite("beta", "b");
    AddSite("alpha", "a1");
    AddSite("Alpha", "a2");
    auto m = Open();
    m->Select(1);
    m->Sort();
    EXPECT_EQ(Names(*m), (std::vector<std::string>{"Alpha", "alpha", "beta"}));
    EXPECT_EQ(m->Selected(), 1);
    EXPECT_EQ(m->ItemRecord(m->Edited())->address, "a1");
}

TEST_F(SiteManagerModelTest, CloseInNewMode)
{
    struct Case {
        const char* title;
        std::string address;
        std::vector<SiteManagerPrompts::Answer> answers;
        bool closes;
        size_t sitesWritten;
        bool asked;
    };
    using A = SiteManagerPrompts::Answer;
    const Case cases[] = {
        {"empty host writes without asking", "", {}, true, 0, false},
        {"cancel keeps it open", "h.example", {A::Cancel}, false, 0, true},
        {"no drops the site", "h.example", {A::No}, true, 0, true},
        {"yes adds it", "h.example", {A::Yes}, true, 1, true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(tmp.File("site.dat"));
        sites.clear();
        prompts = RecordingPrompts{};
        prompts.answers.assign(c.answers.begin(), c.answers.end());
        auto m = Open();
        m->Fields().address = c.address;
        EXPECT_EQ(m->Close(), c.closes) << c.title;
        EXPECT_EQ(!prompts.questions.empty(), c.asked) << c.title;
        if (c.asked) {
            EXPECT_EQ(prompts.questions[0], "Do you want to add this site?");
        }
        EXPECT_EQ(std::filesystem::exists(tmp.File("site.dat")), c.closes) << c.title;
        EXPECT_EQ(LoadedFile().size(), c.sitesWritten) << c.title;
        EXPECT_EQ(sites.size(), c.sitesWritten) << c.title;
    }
}

TEST_F(SiteManagerModelTest, CloseStoresEditsAndDropsDeletedSites)
{
    AddSite("a", "a.example");
    AddSite("b", "b.example");
    AddSite("c", "c.example");
    auto m = Open();
    m->Select(1);
    m->Delete();
    m->Fields().password = "secret";
    EXPECT_TRUE(m->Close());
    ASSERT_EQ(sites.size(), 2u);
    EXPECT_EQ(sites[0]->name, "a");
    EXPECT_EQ(sites[1]->name, "c");
    EXPECT_EQ(sites[1]->password, "secret");
    const SiteList loaded = LoadedFile();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[1]->password, "secret");
}

TEST_F(SiteManagerModelTest, CloseWithInvalidFieldsStaysOpen)
{
    AddSite("a", "a.example");
    auto m = Open();
    m->Fields().address.clear();
    EXPECT_FALSE(m->Close());
    EXPECT_FALSE(std::filesystem::exists(tmp.File("site.dat")));
}

TEST_F(SiteManagerModelTest, ConnectGivesTheIndexOfTheChosenSite)
{
    AddSite("a", "a.example");
    AddSite("b", "b.example");
    {
        auto m = Open();
        m->Select(1);
        m->MoveUp();
        const auto result = m->Connect();
        EXPECT_TRUE(result.closed);
        EXPECT_EQ(result.siteIndex, 0);
        EXPECT_EQ(sites[0]->name, "b");
    }
    {
        auto m = Open();
        m->New();
        m->Fields().address = "new.example";
        const auto result = m->Connect();
        EXPECT_TRUE(result.closed);
        EXPECT_EQ(result.siteIndex, 2);
        EXPECT_EQ(sites[2]->name, "new.example");
    }
    {
        auto m = Open();
        m->Fields().address.clear();
        EXPECT_FALSE(m->Connect().closed);
    }
}

TEST_F(SiteManagerModelTest, UnwritableSiteFileIsReportedAndTheOldOneKept)
{
    AddSite("a", "a.example");
    ASSERT_TRUE(SaveSiteFile(tmp.File("site.dat"), sites));
    const std::string before = tmp.Read("site.dat");
    auto m = Open();
    m->Fields().deflocaldir = std::string(4096, 'x');
    {
        FileSizeLimit limit(64);
        EXPECT_FALSE(m->Close()) << "the dialog stays open with the edits";
        EXPECT_FALSE(m->Connect().closed);
    }
    ASSERT_EQ(prompts.messages.size(), 2u);
    EXPECT_NE(prompts.messages[0].find("Can't save the site list to"), std::string::npos);
    EXPECT_EQ(tmp.Read("site.dat"), before);
    EXPECT_EQ(sites[0]->deflocaldir.size(), 4096u) << "the edits last for this run";
    EXPECT_EQ(m->Fields().deflocaldir.size(), 4096u);

    // Once the file can be written, the same dialog closes and the edits reach the file.
    EXPECT_TRUE(m->Close());
    EXPECT_EQ(LoadedFile()[0]->deflocaldir.size(), 4096u);
}

} // namespace
