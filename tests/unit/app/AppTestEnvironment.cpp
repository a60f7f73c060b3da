#include "AppTestEnvironment.h"

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace apptest {

namespace {

class Environment : public ::testing::Environment {
public:
    Environment()
    {
        // Processes this test starts (the second start, the death test) inherit the folder
        // and leave it to the process that made it.
        if (const char* inherited = std::getenv("TV_APP_TEST_ROOT")) {
            m_root = inherited;
        } else {
            std::string tmpl = (std::filesystem::temp_directory_path() / "tv-app-XXXXXX").string();
            if (::mkdtemp(tmpl.data()))
                m_root = tmpl;
            m_owner = true;
            ::setenv("TV_APP_TEST_ROOT", m_root.c_str(), 1);
        }
        for (const char* sub : {"/data", "/config", "/runtime"})
            std::filesystem::create_directories(m_root + sub);
        std::filesystem::permissions(m_root + "/runtime", std::filesystem::perms::owner_all);
        ::setenv("XDG_DATA_HOME", (m_root + "/data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (m_root + "/config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (m_root + "/runtime").c_str(), 1);
    }
    ~Environment() override
    {
        // Only reached at exit; a QCoreApplication still alive then (tests were only
        // listed) is left to the process end, as Qt's own globals are gone already.
        (void)m_app.release();
        if (m_owner) {
            std::error_code ec;
            std::filesystem::remove_all(m_root, ec);
        }
    }
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "unit_app";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }
    const std::string& Root() const { return m_root; }

private:
    std::string m_root;
    std::unique_ptr<QCoreApplication> m_app;
    bool m_owner = false;
};

// Made during static initialisation, before any test or Qt code reads the environment.
Environment* const g_environment =
    static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

} // namespace

const std::string& Root()
{
    return g_environment->Root();
}

std::string DataHome()
{
    return Root() + "/data";
}

std::string ConfigHome()
{
    return Root() + "/config";
}

} // namespace apptest
