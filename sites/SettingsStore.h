#pragma once
// Where the settings table is kept between runs: integers and strings by name, in one
// section. The application supplies the real store; tests use MemorySettingsStore.

#include <optional>
#include <string>

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;

    virtual std::optional<int> ReadInt(const std::string& name) = 0;
    virtual std::optional<std::string> ReadString(const std::string& name) = 0;
    // False when the store refused the value.
    virtual bool WriteInt(const std::string& name, int value) = 0;
    virtual bool WriteString(const std::string& name, const std::string& value) = 0;
    // Makes the written values durable; false when that failed.
    virtual bool Flush() = 0;
    // Where the values live, for messages ("Profile Path:").
    virtual std::string ProfilePath() const = 0;
};
