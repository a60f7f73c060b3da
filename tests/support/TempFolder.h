#pragma once
// Temporary folders for tests, removed with everything in them when the test ends, so no
// test ever touches the real user's folders.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <csignal>
#include <sys/resource.h>

#include <gtest/gtest.h>

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tollvane-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
        else
            ADD_FAILURE() << "mkdtemp failed";
    }
    ~TempFolder()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    std::string operator/(const std::string& relative) const { return File(relative); }

    void Write(const std::string& name, const std::string& contents) const
    {
        std::ofstream out(File(name), std::ios::binary);
        out << contents;
    }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(File(name), std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }

private:
    std::string m_path;
};

// A temporary folder that XDG_DATA_HOME and XDG_CONFIG_HOME point into ("data" and
// "config" inside it) for as long as the test runs.
class XdgTempFolder : public TempFolder {
public:
    XdgTempFolder()
    {
        std::filesystem::create_directories(File("data"));
        std::filesystem::create_directories(File("config"));
        ::setenv("XDG_DATA_HOME", File("data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", File("config").c_str(), 1);
    }
};

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Limits the size of files this process writes, for as long as it lives: a stand-in for a
// full disk that works for root too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved {};
    void (*m_oldHandler)(int) = nullptr;
};
