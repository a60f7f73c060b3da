#include "sites/MemorySettingsStore.h"

#include <algorithm>

std::optional<int> MemorySettingsStore::ReadInt(const std::string& name)
{
    const auto it = m_ints.find(name);
    if (it == m_ints.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::string> MemorySettingsStore::ReadString(const std::string& name)
{
    const auto it = m_strings.find(name);
    if (it == m_strings.end())
        return std::nullopt;
    return it->second;
}

bool MemorySettingsStore::WriteInt(const std::string& name, int value)
{
    if (m_refuseWrites)
        return false;
    if (!Has(name))
        m_writeOrder.push_back(name);
    m_ints[name] = value;
    return true;
}

bool MemorySettingsStore::WriteString(const std::string& name, const std::string& value)
{
    if (m_refuseWrites)
        return false;
    if (!Has(name))
        m_writeOrder.push_back(name);
    m_strings[name] = value;
    return true;
}

bool MemorySettingsStore::Has(const std::string& name) const
{
    return m_ints.count(name) != 0 || m_strings.count(name) != 0;
}
