#include "sites/SiteManagerModel.h"

#include "sites/SiteFile.h"
#include "sites/TextUtil.h"

#include <algorithm>
#include <utility>

CSiteManagerModel::CSiteManagerModel(SiteList& siteList, std::string siteFilePath,
                                     std::string anonymousPass, SiteManagerPrompts& prompts)
    : m_siteList(siteList), m_siteFilePath(std::move(siteFilePath)),
      m_anonymousPass(std::move(anonymousPass)), m_prompts(prompts)
{
    for (const auto& site : m_siteList)
        m_items.push_back(Item{site->name, site.get()});
    if (m_items.empty()) {
        EnterNewMode();
    } else {
        m_selected = m_edited = 0;
        ShowRecord(*m_items[0].record);
    }
}

int CSiteManagerModel::FindExactNoCase(const std::string& name) const
{
    for (size_t i = 0; i < m_items.size(); ++i)
        if (sites::EqualsNoCase(m_items[i].text, name))
            return static_cast<int>(i);
    return -1;
}

void CSiteManagerModel::ShowRecord(const CSiteSetting& site)
{
    m_fields.name = site.name;
    m_fields.address = site.address;
    m_fields.port = std::to_string(site.port);
    m_fields.username = site.username;
    m_fields.password = site.password;
    m_fields.loginRadio = site.logintype >= 0 && site.logintype <= 2 ? site.logintype : -1;
    m_fields.hostTypeIndex = 0; // "Auto Detect" is the only type offered
    m_fields.deflocaldir = site.deflocaldir;
    m_fields.defremotedir = site.defremotedir;
    m_fields.passive = site.passive != 0;
    m_fields.encryption = site.encryption;
    m_shown = m_fields;
}

bool CSiteManagerModel::CommitEdits()
{
    if (m_newMode || m_edited < 0 || !HasEdits())
        return true;
    if (!Validate())
        return false;
    StoreFields(*m_items[m_edited].record);
    m_shown = m_fields;
    return true;
}

void CSiteManagerModel::StoreFields(CSiteSetting& site)
{
    site.name = m_fields.name;
    site.address = m_fields.address;
    site.port = sites::ParseLeadingInt(m_fields.port);
    site.username = m_fields.username;
    site.password = m_fields.password;
    site.logintype = m_fields.loginRadio >= 0 ? m_fields.loginRadio : 3;
    site.hosttype = m_fields.hostTypeIndex;
    site.deflocaldir = m_fields.deflocaldir;
    site.defremotedir = m_fields.defremotedir;
    site.passive = m_fields.passive ? 1 : 0;
    site.encryption = m_fields.encryption;
    // Keep the list's text in step with the record, so a renamed site is found by the
    // duplicate check under its new name.
    for (Item& item : m_items)
        if (item.record == &site)
            item.text = site.name;
}

void CSiteManagerModel::ClearFields()
{
    m_fields = SiteFields{};
    m_fields.port = "21";
    m_fields.defremotedir = "/";
    m_fields.loginRadio = CSiteSetting::LOGIN_ANONYMOUS;
    m_fields.passive = true;
    m_shown = m_fields;
}

void CSiteManagerModel::EnterNewMode()
{
    m_newMode = true;
    ClearFields();
}

bool CSiteManagerModel::Validate()
{
    if (m_fields.address.empty()) {
        m_prompts.ShowMessage("Host address can't be empty!");
        m_prompts.FocusHostAddress();
        return false;
    }
    if (m_fields.name.empty())
        m_fields.name = m_fields.address;

    const int found = FindExactNoCase(m_fields.name);
    if (found >= 0 && (m_newMode || found != m_edited)) {
        m_prompts.ShowMessage("Site Name:" + m_fields.name + " already exist!");
        return false;
    }

    // A line break would split a record of the site file and, in the user name or
    // password, end the FTP command early and start another one.
    const std::pair<const char*, const std::string*> texts[] = {
        {"Site Name", &m_fields.name},         {"Host Address", &m_fields.address},
        {"User Name", &m_fields.username},     {"Password", &m_fields.password},
        {"Default Local Directory", &m_fields.deflocaldir},
        {"Default Remote Directory", &m_fields.defremotedir},
    };
    for (const auto& [label, text] : texts) {
        if (sites::ContainsLineBreak(*text)) {
            m_prompts.ShowMessage(std::string(label) + " can't contain a line break!");
            return false;
        }
    }

    const std::string port = sites::Trim(m_fields.port);
    const bool digitsOnly =
        !port.empty() && port.size() <= 5 &&
        std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int portValue = digitsOnly ? sites::ParseLeadingInt(port) : 0;
    if (portValue < 1 || portValue > 65535) {
        m_prompts.ShowMessage("Port must be a number from 1 to 65535!");
        return false;
    }
    return true;
}

void CSiteManagerModel::Add()
{
    auto site = std::make_unique<CSiteSetting>();
    site->password = m_anonymousPass;
    CSiteSetting* record = site.get();
    m_created.push_back(std::move(site));
    m_items.push_back(Item{std::string(), record});
    StoreFields(*record);
    m_selected = m_edited = Count() - 1;
    m_newMode = false;
    m_shown = m_fields;
}

bool CSiteManagerModel::Select(int index)
{
    if (index < 0 || index >= Count())
        return false;
    if (!CommitEdits()) {
        m_selected = m_edited;
        return false;
    }
    m_newMode = false;
    m_selected = m_edited = index;
    ShowRecord(*m_items[index].record);
    return true;
}

void CSiteManagerModel::New()
{
    if (m_newMode) {
        if (Validate())
            Add();
        return;
    }
    if (!CommitEdits())
        return;
    EnterNewMode();
}

void CSiteManagerModel::Restore()
{
    if (m_newMode)
        ClearFields();
    else if (m_edited >= 0)
        ShowRecord(*m_items[m_edited].record);
}

void CSiteManagerModel::Delete()
{
    if (m_newMode) {
        m_newMode = false;
        if (!m_items.empty()) {
            m_selected = m_edited = 0;
            ShowRecord(*m_items[0].record);
        } else {
            // Nothing to show: the empty list keeps the dialog in new mode.
            EnterNewMode();
        }
        return;
    }
    if (m_selected < 0 || m_selected >= Count())
        return;
    m_items.erase(m_items.begin() + m_selected);
    if (m_items.empty()) {
        m_selected = m_edited = -1;
        EnterNewMode();
        return;
    }
    if (m_selected >= Count())
        m_selected = Count() - 1;
    m_edited = m_selected;
    ShowRecord(*m_items[m_selected].record);
}

void CSiteManagerModel::MoveUp()
{
    if (m_selected < 1 || m_selected >= Count())
        return;
    std::swap(m_items[m_selected], m_items[m_selected - 1]);
    if (m_edited == m_selected)
        m_edited = m_selected - 1;
    else if (m_edited == m_selected - 1)
        m_edited = m_selected;
    --m_selected;
}

void CSiteManagerModel::MoveDown()
{
    if (m_selected < 0 || m_selected >= Count() - 1)
        return;
    std::swap(m_items[m_selected], m_items[m_selected + 1]);
    if (m_edited == m_selected)
        m_edited = m_selected + 1;
    else if (m_edited == m_selected + 1)
        m_edited = m_selected;
    ++m_selected;
}

void CSiteManagerModel::Sort()
{
    const CSiteSetting* selectedRecord =
        m_selected >= 0 && m_selected < Count() ? m_items[m_selected].record : nullptr;
    const std::string selectedName = selectedRecord ? m_items[m_selected].text : std::string();

    // Case-sensitive: upper case sorts before lower case.
    for (size_t i = 0; i < m_items.size(); ++i)
        for (size_t j = i + 1; j < m_items.size(); ++j)
            if (m_items[i].text > m_items[j].text)
                std::swap(m_items[i], m_items[j]);

    if (!selectedRecord)
        return;
    for (int i = 0; i < Count(); ++i) {
        if (m_items[i].text == selectedName) {
            m_selected = m_edited = i;
            break;
        }
    }
}

bool CSiteManagerModel::SaveSites()
{
    SiteList rebuilt;
    rebuilt.reserve(m_items.size());
    auto takeFrom = [](SiteList& from, CSiteSetting* record) -> std::unique_ptr<CSiteSetting> {
        for (auto& owned : from)
            if (owned.get() == record)
                return std::move(owned);
        return nullptr;
    };
    for (const Item& item : m_items) {
        std::unique_ptr<CSiteSetting> owned = takeFrom(m_siteList, item.record);
        if (!owned)
            owned = takeFrom(m_created, item.record);
        if (owned)
            rebuilt.push_back(std::move(owned));
    }
    m_siteList = std::move(rebuilt); // records deleted here are freed now
    m_created.clear();

    std::string reason;
    if (!SaveSiteFile(m_siteFilePath, m_siteList, &reason)) {
        m_prompts.ShowMessage(SiteFileWriteFailedMessage(m_siteFilePath, reason));
        return false;
    }
    return true;
}

bool CSiteManagerModel::Close()
{
    if (m_newMode) {
        if (!m_fields.address.empty()) {
            switch (m_prompts.AskYesNoCancel("Do you want to add this site?")) {
            case SiteManagerPrompts::Answer::Cancel:
                return false;
            case SiteManagerPrompts::Answer::Yes:
                if (!Validate())
                    return false;
                Add();
                break;
            case SiteManagerPrompts::Answer::No:
                break;
            }
        }
    } else if (!CommitEdits()) {
        return false;
    }
    // A site file that could not be written keeps the dialog open with the edits.
    return SaveSites();
}

CSiteManagerModel::ConnectResult CSiteManagerModel::Connect()
{
    ConnectResult result;
    if (m_newMode) {
        if (!Validate())
            return result;
        Add();
    } else if (!CommitEdits()) {
        return result;
    }
    const CSiteSetting* chosen =
        m_selected >= 0 && m_selected < Count() ? m_items[m_selected].record : nullptr;
    if (!SaveSites())
        return result; // reported; the dialog stays open with the edits
    result.closed = true;
    for (size_t i = 0; i < m_siteList.size(); ++i)
        if (m_siteList[i].get() == chosen)
            result.siteIndex = static_cast<int>(i);
    return result;
}
