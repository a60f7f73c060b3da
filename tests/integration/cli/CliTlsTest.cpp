// tollvane-cli over FTPS against vsftpd (explicit with forced TLS and session reuse
// required, and implicit) and pyftpdlib's TLS handler, each with a certificate the test
// makes with the openssl tool: the certificate check, trust by fingerprint, and transfers
// compared byte for byte over encrypted data connections.
#include "tests/integration/cli/CliFixture.h"

#include <cstdlib>

#include "tests/support/ServerProcess.h"

namespace clitest {
namespace {

// Runs a program to completion with its output in `outputPath`; its exit status.
int RunTool(const std::vector<std::string>& args, const std::string& outputPath)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A self-signed certificate and key in `folder` for the subject alternative name `san`
// ("IP:127.0.0.1", "DNS:other.example"); its SHA-256 fingerprint ("AB:CD:...") in
// *fingerprint. False when the openssl tool failed.
bool MakeCertificate(const std::string& folder, const std::string& name, const std::string& san,
                     std::string* fingerprint)
{
    const std::string cert = folder + "/" + name + ".pem";
    const std::string key = folder + "/" + name + ".key";
    if (RunTool({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days",
                 "2", "-subj", "/CN=tollvane test " + name, "-addext", "subjectAltName=" + san},
                folder + "/openssl.out") != 0)
        return false;
    if (RunTool({"openssl", "x509", "-in", cert, "-noout", "-fingerprint", "-sha256"}, folder + "/fp.out") != 0)
        return false;
    std::string text = ReadAll(folder + "/fp.out");  // "sha256 Fingerprint=AB:CD:...\n"
    const size_t equals = text.find('=');
    if (equals == std::string::npos)
        return false;
    text = text.substr(equals + 1);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    *fingerprint = text;
    return true;
}

enum class TlsServer { VsftpdExplicit, VsftpdImplicit, PyftpdlibExplicit };

std::string ServerName(const ::testing::TestParamInfo<TlsServer>& info)
{
    switch (info.param) {
    case TlsServer::VsftpdExplicit: return "VsftpdExplicit";
    case TlsServer::VsftpdImplicit: return "VsftpdImplicit";
    case TlsServer::PyftpdlibExplicit: return "PyftpdlibExplicit";
    }
    return "Unknown";
}

class CliTlsTest : public ::testing::TestWithParam<TlsServer> {
protected:
    void SetUp() override
    {
        root_ = MakeCliRoot();
        ASSERT_FALSE(root_.empty());
        ASSERT_TRUE(MakeCertificate(root_, "server", "IP:127.0.0.1", &fingerprint_)) << ReadAll(root_ + "/openssl.out");
        // Nothing on this machine vouches for the test's certificate.
        ::setenv("SSL_CERT_FILE", (root_ + "/none.pem").c_str(), 1);
        ::setenv("SSL_CERT_DIR", (root_ + "/none").c_str(), 1);
        tvtest::FtpServerOptions options;
        options.tls = GetParam() == TlsServer::VsftpdImplicit ? tvtest::FtpServerOptions::Tls::Implicit
                                                               : tvtest::FtpServerOptions::Tls::Explicit;
        options.certificateFile = root_ + "/server.pem";
        options.keyFile = root_ + "/server.key";
        if (GetParam() == TlsServer::PyftpdlibExplicit)
            server_ = std::make_unique<tvtest::PyftpdlibServer>(options);
        else
            server_ = std::make_unique<tvtest::VsftpdServer>(options);
        ASSERT_TRUE(server_->start()) << server_->error();
        ASSERT_TRUE(server_->createFolder("incoming"));
        const std::string scheme = GetParam() == TlsServer::VsftpdImplicit ? "ftps://" : "ftpes://";
        base_ = scheme + std::string(server_->hasUser() ? server_->userName() + "@" : "") + server_->host() + ":" +
                std::to_string(server_->port()) + "/incoming";
    }
    void TearDown() override
    {
        ::unsetenv("SSL_CERT_FILE");
        ::unsetenv("SSL_CERT_DIR");
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    Outcome Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--timeout", "5", "--error-retry", "0", "--file-retry", "0"});
        return RunCli(root_, server_->password(), args);
    }
    std::string Url(const std::string& path) const { return base_ + path; }
    std::string Local(const std::string& name) const { return root_ + "/local/" + name; }
    std::string Transcript(const Outcome& outcome) const
    {
        return "exit " + std::to_string(outcome.exitCode) + "\nstderr:\n" + outcome.err + "\nserver log:\n" +
               server_->logText();
    }
    std::string PinFile() const { return root_ + "/data/Tollvane/certificates.txt"; }

    std::unique_ptr<tvtest::FtpTestServer> server_;
    std::string root_;
    std::string base_;
    std::string fingerprint_;
};

TEST_P(CliTlsTest, RefusesTheUnknownCertificateUntilItIsTrustedByFingerprint)
{
    ASSERT_TRUE(server_->createFile("incoming/a.txt", "secret\n"));

    const Outcome refused = Run({"-v", "ls", Url("/")});
    EXPECT_EQ(refused.exitCode, 3) << Transcript(refused);
    for (const std::string& shown : {"SHA256:" + fingerprint_, std::string("subject: CN=tollvane test server"),
                                     std::string("issuer: CN=tollvane test server"), std::string("valid from "),
                                     std::string("self-signed")})
        EXPECT_NE(refused.err.find(shown), std::string::npos) << shown << "\n" << refused.err;
    EXPECT_EQ(refused.out.find("a.txt"), std::string::npos);
    // Nothing was sent after the refusal: no login.
    EXPECT_EQ(refused.err.find("USER"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(PinFile()));

    const Outcome malformed = Run({"--trust-certificate", "SHA256:12:34", "ls", Url("/")});
    EXPECT_EQ(malformed.exitCode, 2) << "a malformed fingerprint is a usage error\n" << malformed.err;

    const Outcome trusted = Run({"--trust-certificate", "sha256:" + fingerprint_, "ls", Url("/")});
    ASSERT_EQ(trusted.exitCode, 0) << Transcript(trusted);
    EXPECT_NE(trusted.out.find("a.txt"), std::string::npos) << trusted.out;

    // Remembered for the host and port: the next run needs no option.
    EXPECT_NE(ReadAll(PinFile()).find("127.0.0.1 " + std::to_string(server_->port()) + " " + fingerprint_),
              std::string::npos)
        << ReadAll(PinFile());
    const Outcome again = Run({"ls", Url("/")});
    EXPECT_EQ(again.exitCode, 0) << Transcript(again);
}

TEST_P(CliTlsTest, TransfersByteForByteOverResumedTlsDataConnections)
{
    const std::string trust = "SHA256:" + fingerprint_;
    // In active mode the server connects to us, and we are the TLS client all the same.
    // pyftpdlib's TLS handler never serves an active data connection (other clients'
    // neither): passive only there.
    std::vector<std::string> modes = {"--passive"};
    if (GetParam() != TlsServer::PyftpdlibExplicit)
        modes.push_back("--active");
    for (const std::string& mode : modes) {
        SCOPED_TRACE(mode);
        const std::string name = mode.substr(2);
        const std::string remoteBytes = RandomBytes(3 * 1024 * 1024 + 11, 7);
        ASSERT_TRUE(server_->createFile("incoming/" + name + ".bin", remoteBytes));

        const Outcome listed = Run({mode, "--trust-certificate", trust, "ls", Url("/")});
        ASSERT_EQ(listed.exitCode, 0) << Transcript(listed);
        EXPECT_NE(listed.out.find(name + ".bin"), std::string::npos) << listed.out;

        const Outcome get = Run({mode, "-v", "get", Url("/" + name + ".bin")});
        ASSERT_EQ(get.exitCode, 0) << Transcript(get);
        EXPECT_TRUE(ReadAll(Local(name + ".bin")) == remoteBytes);
        EXPECT_NE(get.err.find("TLS data connection established (TLS session resumed)"), std::string::npos)
            << get.err;
        EXPECT_EQ(get.err.find("new TLS session"), std::string::npos) << get.err;

        const std::string localBytes = RandomBytes(2 * 1024 * 1024 + 5, 8);
        std::ofstream(Local(name + "-up.bin"), std::ios::binary) << localBytes;
        const Outcome put = Run({mode, "-v", "--overwrite", "overwrite", "put", Local(name + "-up.bin"), Url("/")});
        ASSERT_EQ(put.exitCode, 0) << Transcript(put);
        std::string stored;
        ASSERT_TRUE(server_->readFile("incoming/" + name + "-up.bin", stored));
        EXPECT_TRUE(stored == localBytes) << stored.size() << " bytes stored";
        // Every data connection of the run (the listing before the upload, the upload
        // itself) resumed the session: a TLS 1.3 ticket serves once, the next one comes
        // from the last.
        EXPECT_EQ(put.err.find("new TLS session"), std::string::npos) << put.err;

        // An empty file ends with close_notify too.
        ASSERT_TRUE(server_->createFile("incoming/" + name + "-empty.bin", ""));
        const Outcome empty = Run({mode, "get", Url("/" + name + "-empty.bin")});
        ASSERT_EQ(empty.exitCode, 0) << Transcript(empty);
        EXPECT_TRUE(fs::exists(Local(name + "-empty.bin")));
        EXPECT_EQ(fs::file_size(Local(name + "-empty.bin")), 0u);
    }
}

TEST_P(CliTlsTest, RefusesLoudlyWhenTheTrustedCertificateChanged)
{
    // What the user trusted before for this host and port is another certificate.
    // (Its first byte differs from the real one's, whatever that is.)
    const std::string earlier = (fingerprint_.compare(0, 3, "AA:") == 0 ? "BB:" : "AA:") + fingerprint_.substr(3);
    fs::create_directories(root_ + "/data/Tollvane");
    std::ofstream(PinFile()) << "127.0.0.1 " << server_->port() << " " << earlier << "\n";

    const Outcome changed = Run({"ls", Url("/")});
    EXPECT_EQ(changed.exitCode, 3) << Transcript(changed);
    EXPECT_NE(changed.err.find("HAS CHANGED"), std::string::npos) << changed.err;
    EXPECT_NE(changed.err.find("SHA256:" + earlier), std::string::npos) << changed.err;
    EXPECT_NE(changed.err.find("SHA256:" + fingerprint_), std::string::npos) << changed.err;
    EXPECT_NE(ReadAll(PinFile()).find(earlier), std::string::npos);

    // Another fingerprint named on the command line changes nothing.
    const Outcome wrong = Run({"--trust-certificate", "SHA256:" + earlier, "ls", Url("/")});
    EXPECT_EQ(wrong.exitCode, 3) << Transcript(wrong);

    // Only the user's explicit word for the new certificate replaces the old one.
    const Outcome replaced = Run({"--trust-certificate", "SHA256:" + fingerprint_, "ls", Url("/")});
    EXPECT_EQ(replaced.exitCode, 0) << Transcript(replaced);
    EXPECT_EQ(ReadAll(PinFile()), "127.0.0.1 " + std::to_string(server_->port()) + " " + fingerprint_ + "\n");
}

INSTANTIATE_TEST_SUITE_P(Servers, CliTlsTest,
                         ::testing::Values(TlsServer::VsftpdExplicit, TlsServer::VsftpdImplicit,
                                           TlsServer::PyftpdlibExplicit),
                         ServerName);

// The system's trust store (SSL_CERT_FILE) and the host name decide without the user.
TEST(CliTlsVerification, TrustStoreAndHostName)
{
    struct Case {
        const char* what;
        const char* san;
        const char* host;
        int exitCode;
        const char* said;
    };
    const Case cases[] = {
        {"trusted, for the address", "IP:127.0.0.1", "127.0.0.1", 0, "certificate is valid"},
        {"trusted, for the name", "DNS:localhost", "localhost", 0, "certificate is valid"},
        {"trusted, for another name", "DNS:other.example", "localhost", 3, "hostname mismatch"},
        {"trusted, for a name but reached by address", "DNS:localhost", "127.0.0.1", 3, "IP address mismatch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string root = MakeCliRoot();
        ASSERT_FALSE(root.empty());
        std::string fingerprint;
        ASSERT_TRUE(MakeCertificate(root, "server", c.san, &fingerprint));
        ::setenv("SSL_CERT_FILE", (root + "/server.pem").c_str(), 1);
        ::setenv("SSL_CERT_DIR", (root + "/none").c_str(), 1);
        tvtest::FtpServerOptions options;
        options.tls = tvtest::FtpServerOptions::Tls::Explicit;
        options.certificateFile = root + "/server.pem";
        options.keyFile = root + "/server.key";
        tvtest::PyftpdlibServer server(options);
        ASSERT_TRUE(server.start()) << server.error();
        const Outcome outcome = RunCli(root, server.password(),
                                       {"-v", "--timeout", "5", "--error-retry", "0", "ls",
                                        "ftpes://" + server.userName() + "@" + c.host + ":" +
                                            std::to_string(server.port()) + "/"});
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.err;
        EXPECT_NE(outcome.err.find(c.said), std::string::npos) << outcome.err;
        EXPECT_FALSE(fs::exists(root + "/data/Tollvane/certificates.txt"));
        ::unsetenv("SSL_CERT_FILE");
        ::unsetenv("SSL_CERT_DIR");
        std::error_code ec;
        fs::remove_all(root, ec);
    }
}

// A server without TLS: "try" goes on in plain text, "require" sends nothing in the clear.
TEST(CliTlsVerification, ServerWithoutTls)
{
    struct Case {
        const char* mode;
        int exitCode;
        const char* said;
    };
    const Case cases[] = {
        {"try", 0, "continuing without encryption"},
        {"require", 3, "does not offer TLS"},
    };
    tvtest::PyftpdlibServer server;
    ASSERT_TRUE(server.start()) << server.error();
    ASSERT_TRUE(server.createFile("plain.txt", "x"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        const std::string root = MakeCliRoot();
        ASSERT_FALSE(root.empty());
        const Outcome outcome = RunCli(root, server.password(),
                                       {"-v", "--timeout", "5", "--error-retry", "0", "--tls", c.mode, "ls",
                                        "ftp://" + server.userName() + "@127.0.0.1:" +
                                            std::to_string(server.port()) + "/"});
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.err;
        EXPECT_NE(outcome.err.find(c.said), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.exitCode == 0, outcome.out.find("plain.txt") != std::string::npos) << outcome.out;
        if (c.exitCode != 0) {
            EXPECT_EQ(outcome.err.find("PASS"), std::string::npos) << "no password in plain text\n" << outcome.err;
        }
        std::error_code ec;
        fs::remove_all(root, ec);
    }
}

// A data connection cut without close_notify after part of the file fails the download,
// even though the server then says 226: what arrived is not taken for the whole file.
TEST(CliTlsVerification, DataCutWithoutCloseNotifyFailsTheDownload)
{
    const std::string root = MakeCliRoot();
    ASSERT_FALSE(root.empty());
    std::string fingerprint;
    ASSERT_TRUE(MakeCertificate(root, "server", "IP:127.0.0.1", &fingerprint));
    std::string why;
    const std::string portFile = root + "/port";
    const pid_t server = tvtest::spawnProcess(
        {"/usr/bin/python3", tvtest::sourceFolder() + "/tests/servers/tls_cut_server.py", "--port-file", portFile,
         "--certificate", root + "/server.pem", "--key", root + "/server.key", "--size", "300000", "--cut", "100000"},
        {}, root + "/server.log", why);
    ASSERT_GT(server, 0) << why;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!fs::exists(portFile) && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(portFile)) << ReadAll(root + "/server.log");
    const std::string port = ReadAll(portFile);

    const Outcome outcome = RunCli(root, "p",
                                   {"-v", "--timeout", "5", "--error-retry", "0", "--file-retry", "0",
                                    "--trust-certificate", "SHA256:" + fingerprint, "get",
                                    "ftpes://u@127.0.0.1:" + port + "/cut.bin"});
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err << ReadAll(root + "/server.log");
    EXPECT_NE(outcome.err.find("without ending TLS (no close_notify)"), std::string::npos) << outcome.err;
    EXPECT_FALSE(fs::exists(root + "/local/cut.bin"));
    tvtest::stopProcessGroup(server, 5000);
    std::error_code ec;
    fs::remove_all(root, ec);
}

}  // namespace
}  // namespace clitest
