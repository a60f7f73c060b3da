#pragma once
// The one exception of the pattern engine. It never leaves the engine: CPatternBase's
// compile operations catch it and turn it into a PATTERN_ERROR.

#include <cstddef>
#include <string>

class CPatternException {
public:
    CPatternException(std::string message, std::size_t position)
        : m_message(std::move(message)), m_position(position) {}

    const std::string& Message() const { return m_message; }
    std::size_t Position() const { return m_position; }

private:
    std::string m_message;
    std::size_t m_position;
};
