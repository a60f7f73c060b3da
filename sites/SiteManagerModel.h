#pragma once
// The Site Manager's rules without the window: the list of sites as the list box shows it,
// the edit fields, new mode, the buttons and the results of Close and Connect. The dialog
// copies Fields() to and from its controls and calls the button handlers; the command-line
// front end drives it the same way.

#include "sites/SiteSetting.h"

#include <string>
#include <vector>

// What the model needs from whoever shows it.
class SiteManagerPrompts {
public:
    enum class Answer { Yes, No, Cancel };
    virtual ~SiteManagerPrompts() = default;
    virtual void ShowMessage(const std::string& text) = 0;
    virtual Answer AskYesNoCancel(const std::string& text) = 0;
    virtual void FocusHostAddress() {}
};

// The contents of the dialog's controls.
struct SiteFields {
    std::string name;
    std::string address;
    std::string port = "21";      // decimal text of the "Port:" edit
    std::string username;
    std::string password;
    int loginRadio = CSiteSetting::LOGIN_ANONYMOUS; // checked radio button, -1 for none
    int hostTypeIndex = 0;
    std::string deflocaldir;
    std::string defremotedir = "/";
    bool passive = true;
    int encryption = CSiteSetting::ENCRYPTION_PLAIN; // index of "Encryption:"

    bool operator==(const SiteFields&) const = default;
};

class CSiteManagerModel {
public:
    static constexpr int kConnect = 4; // the dialog result that opens a site

    struct ConnectResult {
        bool closed = false;  // false: the dialog stays open (invalid fields, site file not written)
        int siteIndex = -1;   // index in the site list of the site to open
    };

    // `siteList` is the application's list; it is rebuilt from the model's items whenever
    // the site file is written. Records deleted here are freed then: whoever opened a site
    // keeps a copy of its record.
    CSiteManagerModel(SiteList& siteList, std::string siteFilePath, std::string anonymousPass,
                      SiteManagerPrompts& prompts);

    // The list box.
    int Count() const { return static_cast<int>(m_items.size()); }
    const std::string& ItemText(int index) const { return m_items[index].text; }
    const CSiteSetting* ItemRecord(int index) const { return m_items[index].record; }
    int Selected() const { return m_selected; }
    int Edited() const { return m_edited; }
    int FindExactNoCase(const std::string& name) const;

    bool InNewMode() const { return m_newMode; }
    const char* NewButtonLabel() const { return m_newMode ? "Add" : "New"; }
    bool DeleteEnabled() const { return !m_items.empty(); }

    SiteFields& Fields() { return m_fields; }
    const SiteFields& Fields() const { return m_fields; }

    // Whether the fields differ from the record they show. Unchanged fields are neither
    // validated nor stored, so a record that came from the file as it is never blocks
    // moving on.
    bool HasEdits() const { return m_fields != m_shown; }

    // Enters new mode without storing anything: for front ends that made no edits.
    void BeginNewSite() { EnterNewMode(); }

    // Typing in "User Name:" or "Password:" checks "Normal".
    void UserOrPasswordEdited() { m_fields.loginRadio = CSiteSetting::LOGIN_NORMAL; }

    // Button and list handlers. Select returns false when the edited fields were invalid
    // and the selection went back to the edited item.
    bool Select(int index);
    void New();
    void Restore();
    void Delete();
    void MoveUp();
    void MoveDown();
    void Sort();

    // "Close" / Escape: true when the dialog closes (false also when the site file could
    // not be written: the failure was shown and the edits stay).
    bool Close();
    // "Connect" / double click on an item.
    ConnectResult Connect();

    // Checks the fields, filling an empty site name from the host address. Shows the
    // reason and returns false when they cannot be stored.
    bool Validate();

private:
    struct Item {
        std::string text;
        CSiteSetting* record;
    };

    void ShowRecord(const CSiteSetting& site);
    // Validates and stores pending edits to the edited record; false when invalid.
    bool CommitEdits();
    void StoreFields(CSiteSetting& site);
    void ClearFields();
    void EnterNewMode();
    void Add();
    bool SaveSites();

    SiteList& m_siteList;
    std::string m_siteFilePath;
    std::string m_anonymousPass;
    SiteManagerPrompts& m_prompts;

    std::vector<Item> m_items;
    SiteList m_created; // records added here, until the site file takes them
    SiteFields m_fields;
    SiteFields m_shown; // the fields as last shown, to tell whether anything was edited
    int m_selected = -1;
    int m_edited = -1;
    bool m_newMode = false;
};
