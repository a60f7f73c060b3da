#pragma once
// A temporary folder removed at the end of a test, with XDG_DATA_HOME and XDG_CONFIG_HOME
// pointed into it so nothing touches the real user's folders.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

class TempFolder {
public:
    TempFolder()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tv-sites-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            ADD_FAILURE() << "mkdtemp failed";
        m_path = tmpl;
        std::filesystem::create_directories(m_path + "/data");
        std::filesystem::create_directories(m_path + "/config");
        ::setenv("XDG_DATA_HOME", (m_path + "/data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (m_path + "/config").c_str(), 1);
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

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

#include <csignal>
#include <sys/resource.h>

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
