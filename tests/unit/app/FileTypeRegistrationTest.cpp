#include "app/lib/FileTypeRegistration.h"

#include "AppTestEnvironment.h"

#include <QFile>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

std::string ReadText(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

class FileTypeRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::remove_all(apptest::DataHome() + "/mime");
        std::filesystem::remove_all(apptest::DataHome() + "/applications");
        std::filesystem::remove(apptest::ConfigHome() + "/mimeapps.list");
    }
    FileTypeRegistration Tvq(const QString& program = QStringLiteral("/opt/tollvane/bin/tollvane"))
    {
        FileTypeRegistration r;
        r.extension = QStringLiteral("tvq");
        r.programPath = program;
        r.notify = false;
        return r;
    }
};

TEST_F(FileTypeRegistrationTest, WritesMimePackageDesktopFileAndDefault)
{
    ASSERT_TRUE(RegisterFileType(Tvq()));
    const std::string package = ReadText(apptest::DataHome() + "/mime/packages/tollvane-tvq.xml");
    EXPECT_NE(package.find("<mime-type type=\"application/x-tollvane-tvq\">"), std::string::npos);
    EXPECT_NE(package.find("<glob pattern=\"*.tvq\"/>"), std::string::npos);
    EXPECT_NE(package.find("<comment>TVQ FILE</comment>"), std::string::npos);

    const std::string desktop = ReadText(apptest::DataHome() + "/applications/tollvane-tvq.desktop");
    EXPECT_NE(desktop.find("Exec=/opt/tollvane/bin/tollvane %f\n"), std::string::npos) << desktop;
    EXPECT_NE(desktop.find("MimeType=application/x-tollvane-tvq;\n"), std::string::npos);

    EXPECT_EQ(ReadText(apptest::ConfigHome() + "/mimeapps.list"),
              "[Default Applications]\napplication/x-tollvane-tvq=tollvane-tvq.desktop\n");
}

TEST_F(FileTypeRegistrationTest, ProgramPathWithReservedCharactersIsQuoted)
{
    ASSERT_TRUE(RegisterFileType(Tvq(QStringLiteral("/home/a b/100%/$x/tollvane"))));
    const std::string desktop = ReadText(apptest::DataHome() + "/applications/tollvane-tvq.desktop");
    EXPECT_NE(desktop.find("Exec=\"/home/a b/100%%/\\\\$x/tollvane\" %f\n"), std::string::npos) << desktop;
}

TEST_F(FileTypeRegistrationTest, KeepsTheUsersOtherAssociations)
{
    {
        QFile list(QString::fromStdString(apptest::ConfigHome() + "/mimeapps.list"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write("[Added Associations]\ntext/plain=editor.desktop;\n\n"
                   "[Default Applications]\napplication/x-tollvane-tvq=old.desktop\n"
                   "text/html=browser.desktop\n");
    }
    ASSERT_TRUE(RegisterFileType(Tvq()));
    EXPECT_EQ(ReadText(apptest::ConfigHome() + "/mimeapps.list"),
              "[Added Associations]\ntext/plain=editor.desktop;\n\n"
              "[Default Applications]\napplication/x-tollvane-tvq=tollvane-tvq.desktop\n"
              "text/html=browser.desktop\n");
}

TEST_F(FileTypeRegistrationTest, ARepeatedRegistrationLeavesTheFilesAlone)
{
    ASSERT_TRUE(RegisterFileType(Tvq()));
    const std::string desktop = apptest::DataHome() + "/applications/tollvane-tvq.desktop";
    struct stat before {};
    ASSERT_EQ(::stat(desktop.c_str(), &before), 0);
    ASSERT_TRUE(RegisterFileType(Tvq()));
    struct stat after {};
    ASSERT_EQ(::stat(desktop.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "rewritten although nothing changed";
}

TEST_F(FileTypeRegistrationTest, StopsAtTheFirstFailedStep)
{
    // A file where the MIME folder should be.
    QFile blocker(QString::fromStdString(apptest::DataHome() + "/mime"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(RegisterFileType(Tvq()));
    EXPECT_FALSE(std::filesystem::exists(apptest::DataHome() + "/applications/tollvane-tvq.desktop"));
    std::filesystem::remove(apptest::DataHome() + "/mime");
}

} // namespace
