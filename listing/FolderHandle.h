#pragma once
// An open file descriptor that is closed when its owner goes away, so that no early return
// of a folder walk leaks one.

#include <unistd.h>
#include <utility>

class CFolderHandle {
public:
    CFolderHandle() = default;
    explicit CFolderHandle(int fd) : m_fd(fd) {}
    ~CFolderHandle() { Reset(); }
    CFolderHandle(CFolderHandle&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    CFolderHandle& operator=(CFolderHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    CFolderHandle(const CFolderHandle&) = delete;
    CFolderHandle& operator=(const CFolderHandle&) = delete;

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    void Reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};
