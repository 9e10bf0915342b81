// FTP over TLS end to end: "ftpes://" (AUTH TLS) and "ftps://" (TLS from the
// first byte) against servers that refuse anything in clear text, with a CA and
// a server certificate that the test makes itself. The tool trusts that CA only
// through SSL_CERT_FILE; without it the connection must fail, with a clear text.
#include <gtest/gtest.h>

#include <string>

#include "e2e/robust_fixture.h"
#include "e2e/robust_live_run.h"

namespace tandrel::testing {
namespace {

struct TlsCase {
  ServerKind kind;
  TlsMode mode;
};

std::string tlsCaseName(const ::testing::TestParamInfo<TlsCase>& info) {
  return serverKindName(info.param.kind) +
         (info.param.mode == TlsMode::explicit_ ? "_explicit" : "_implicit");
}

class Tls : public RobustBase, public ::testing::WithParamInterface<TlsCase> {
 protected:
  void SetUp() override { startServer(GetParam().kind, {.tls = GetParam().mode}); }
};

TEST_P(Tls, SyncWorksBothWaysWithTheCaFromSslCertFile) {
  ASSERT_FALSE(ftp().caFile().empty());
  const std::string scheme = GetParam().mode == TlsMode::explicit_ ? "ftpes://" : "ftps://";
  ASSERT_TRUE(ftp().hostArgument().starts_with(scheme)) << ftp().hostArgument();
  ScopedEnvironment ca("SSL_CERT_FILE", ftp().caFile().c_str());
  const std::string bytes = randomBytes(300 * 1024, 7);
  local.write("up.bin", bytes, 1700000000);
  local.write("d/inner", "inner", 1700000000);
  remote().write("down.txt", "from the server", 1700000000);
  RunResult result = run({"-r", "-y"});
  expectOutput(result, creating("down.txt", "local") + creating("up.bin", "server") +
                           entering("d") + creating("inner", "server"));
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  EXPECT_EQ(remote().read("up.bin"), bytes);
  EXPECT_EQ(remote().read("d/inner"), "inner");
  EXPECT_EQ(local.read("down.txt"), "from the server");
  expectNoLeftovers();
  expectQuietRerun({"-r", "-y"}, entering("d"));
}

TEST_P(Tls, WithoutTheCaTheConnectionFailsWithAClearText) {
  ScopedEnvironment noCa("SSL_CERT_FILE", nullptr);
  ScopedEnvironment noCaDirectory("SSL_CERT_DIR", nullptr);
  local.write("a", "a", 1700000000);
  RunResult result = run();
  const std::string prefix =
      "\nTandrel V1.0\n"
      "Two-way synchronisation of a local directory tree with an FTP server\n"
      "\nConnecting to FTP server '" +
      ftp().hostArgument() + "' with '" + ftp().user() + "' user...\n" +
      "\nError: Can't connect to ftp server '" + ftp().hostArgument() + "' with '" + ftp().user() +
      "' user - ";
  ASSERT_TRUE(result.output.starts_with(prefix)) << result.describe();
  const std::string reason = result.output.substr(prefix.size());
  // One line that names the certificate as the problem.
  EXPECT_EQ(reason.find('\n'), reason.size() - 1) << quoted(reason);
  EXPECT_NE(reason.find("certificate"), std::string::npos) << quoted(reason);
  EXPECT_TRUE(result.exitedWith(1)) << result.describe();
  EXPECT_EQ(result.errorOutput, "");
  EXPECT_EQ(remote().snapshot(), "") << "nothing may reach the server";
  EXPECT_EQ(local.snapshot(), "a:a\n") << "nothing may change locally";
}

TEST_P(Tls, ACaThatDidNotSignTheCertificateIsRefused) {
  // Another server's CA: a valid CA file, but not the one that signed.
  FtpServer other(ServerKind::pyftpdlib, {.tls = TlsMode::explicit_});
  ASSERT_TRUE(other.started()) << other.startError();
  ScopedEnvironment wrongCa("SSL_CERT_FILE", other.caFile().c_str());
  RunResult result = run();
  EXPECT_NE(result.output.find("\nError: Can't connect to ftp server '" + ftp().hostArgument() +
                               "' with '" + ftp().user() + "' user - "),
            std::string::npos)
      << result.describe();
  EXPECT_TRUE(result.exitedWith(1)) << result.describe();
  EXPECT_EQ(local.snapshot(), "");
}

INSTANTIATE_TEST_SUITE_P(Servers, Tls,
                         ::testing::Values(TlsCase{ServerKind::vsftpd, TlsMode::explicit_},
                                           TlsCase{ServerKind::vsftpd, TlsMode::implicit},
                                           TlsCase{ServerKind::pyftpdlib, TlsMode::explicit_},
                                           TlsCase{ServerKind::pureftpd, TlsMode::explicit_}),
                         tlsCaseName);

// A plain "host:port" against a server that wants TLS: the log-in is refused
// by the server, and the password never goes out in clear text.
TEST(TlsRequired, PlainFtpIsRefusedByATlsOnlyServer) {
  FtpServer server(ServerKind::vsftpd, {.tls = TlsMode::explicit_});
  ASSERT_TRUE(server.started()) << server.startError();
  TempTree local;
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  RunResult result = runTool(
      {"-h", host, "-u", server.user(), "-p", server.password(), "-l", local.path()}, "");
  EXPECT_NE(result.output.find("\nError: Can't connect to ftp server '" + host + "' with '" +
                               server.user() + "' user - "),
            std::string::npos)
      << result.describe();
  EXPECT_TRUE(result.exitedWith(1)) << result.describe();
}

}  // namespace
}  // namespace tandrel::testing
