#include "app/lib/CrashHandler.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>

namespace {

// The death test runs in a fresh copy of this executable, so the report folder is passed
// through the environment rather than made again there.
std::string ReportFolder()
{
    if (const char* folder = std::getenv("TV_CRASH_TEST_FOLDER"))
        return folder;
    std::string tmpl = (std::filesystem::temp_directory_path() / "tv-crash-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        return {};
    ::setenv("TV_CRASH_TEST_FOLDER", tmpl.c_str(), 1);
    return tmpl;
}

void CrashWithHandler(const std::string& dataFolder)
{
    const rlimit noCore{0, 0}; // the report is what this test wants, not a core file
    ::setrlimit(RLIMIT_CORE, &noCore);
    InstallCrashHandler(dataFolder);
    std::raise(SIGSEGV);
}

TEST(CrashHandlerDeathTest, WritesAReportAndStillDiesOfTheSignal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string folder = ReportFolder();
    ASSERT_FALSE(folder.empty());
    const std::string dataFolder = folder + "/";
    EXPECT_EXIT(CrashWithHandler(dataFolder), ::testing::KilledBySignal(SIGSEGV),
                "Dump file was successfully saved to");

    std::ifstream in(dataFolder + "Tollvane.dmp");
    std::ostringstream report;
    report << in.rdbuf();
    EXPECT_NE(report.str().find("signal: 11 (SIGSEGV)"), std::string::npos) << report.str();
    EXPECT_NE(report.str().find("backtrace:"), std::string::npos);
    std::filesystem::remove_all(folder);
    ::unsetenv("TV_CRASH_TEST_FOLDER");
}

} // namespace
