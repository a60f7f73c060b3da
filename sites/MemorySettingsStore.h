#pragma once
// A settings store held in memory, for tests and for runs that must not touch the user's
// settings. It can be told to refuse writes, to exercise the checked writer.

#include "sites/SettingsStore.h"

#include <map>
#include <string>
#include <vector>

class MemorySettingsStore : public ISettingsStore {
public:
    std::optional<int> ReadInt(const std::string& name) override;
    std::optional<std::string> ReadString(const std::string& name) override;
    bool WriteInt(const std::string& name, int value) override;
    bool WriteString(const std::string& name, const std::string& value) override;
    bool Flush() override { return !m_refuseWrites; }
    std::string ProfilePath() const override { return "memory"; }

    void SetRefuseWrites(bool refuse) { m_refuseWrites = refuse; }
    bool Has(const std::string& name) const;
    // Names in the order they were first written.
    const std::vector<std::string>& WriteOrder() const { return m_writeOrder; }

private:
    std::map<std::string, int> m_ints;
    std::map<std::string, std::string> m_strings;
    std::vector<std::string> m_writeOrder;
    bool m_refuseWrites = false;
};
