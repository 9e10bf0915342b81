// The command line and the start sequence of the built tool, byte for byte:
// option errors and usage without a server, then connecting and entering the
// start directories against real pyftpdlib and vsftpd servers on loopback.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "e2e/robust_live_run.h"
#include "support/ftp_server.h"
#include "support/pty_run.h"
#include "support/tool_text.h"
#include "support/temp_tree.h"

namespace tandrel::testing {
namespace {


std::string undefined(const std::string& argument) {
  return "\nError: Undefined parameter '" + argument + "'\n";
}

std::string connecting(const std::string& host, const std::string& user) {
  return "\nConnecting to FTP server '" + host + "' with '" + user + "' user...\n";
}

std::string synchronizing(const std::string& local, const std::string& server,
                          const std::string& host) {
  return "Synchronizing local '" + local + "' with '" + server + "' on the '" + host + "'...\n";
}

std::string cantConnect(const std::string& host, const std::string& user) {
  return "\nError: Can't connect to ftp server '" + host + "' with '" + user + "' user - ";
}

std::string joined(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& a : arguments) text += (text.empty() ? "" : " ") + quoted(a);
  return text;
}

void expectRun(const RunResult& result, const std::string& output, int status) {
  EXPECT_EQ(result.output, output) << result.describe();
  EXPECT_TRUE(result.exitedWith(status)) << "expected exit status " << status << "\n"
                                         << result.describe();
  EXPECT_EQ(result.errorOutput, "") << "nothing may go to standard error";
}

// The output is `prefix`, then the rest of one line that ends the output.
void expectEndsWithErrorLine(const RunResult& result, const std::string& prefix, int status) {
  EXPECT_TRUE(result.output.starts_with(prefix))
      << "expected the output to begin with " << quoted(prefix) << "\n"
      << result.describe();
  if (result.output.size() > prefix.size()) {
    std::string rest = result.output.substr(prefix.size());
    EXPECT_EQ(rest.find('\n'), rest.size() - 1)
        << "expected one line after the prefix\n"
        << result.describe();
  }
  EXPECT_TRUE(result.exitedWith(status)) << "expected exit status " << status << "\n"
                                         << result.describe();
  EXPECT_EQ(result.errorOutput, "") << "nothing may go to standard error";
}

// --- Without a server -------------------------------------------------------

class CommandLine : public ::testing::Test {
 protected:
  RunResult run(const std::vector<std::string>& arguments) {
    return runToolPiped(arguments, workDir.path());
  }
  TempTree workDir;
};

TEST_F(CommandLine, NoArgumentsPrintBannerAndUsage) {
  expectRun(run({}), kBanner + kUsage, 255);
}

TEST_F(CommandLine, NoArgumentsOnATerminalLookTheSame) {
  RunResult result = runTool({}, workDir.path());
  expectRun(result, kBanner + kUsage, 255);
  EXPECT_TRUE(result.terminalRestored());
}

struct MissingValueCase {
  std::vector<std::string> arguments;
  std::string message;
};

class MissingValue : public CommandLine,
                     public ::testing::WithParamInterface<MissingValueCase> {};

TEST_P(MissingValue, PrintsItsMessageWithoutUsage) {
  const MissingValueCase& c = GetParam();
  SCOPED_TRACE(joined(c.arguments));
  expectRun(run(c.arguments), kBanner + c.message, 255);
  EXPECT_EQ(workDir.snapshot(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Options, MissingValue,
    ::testing::Values(
        MissingValueCase{{"-h"}, "\nError: Missing ftp host name\n"},
        MissingValueCase{{"-H"}, "\nError: Missing ftp host name\n"},
        MissingValueCase{{"-u", "bob", "-hostname"}, "\nError: Missing ftp host name\n"},
        MissingValueCase{{"-l"}, "\nError: Missing local directory\n"},
        MissingValueCase{{"-h", "x", "-localDir"}, "\nError: Missing local directory\n"},
        MissingValueCase{{"-p"}, "\nError: Missing password\n"},
        MissingValueCase{{"-P"}, "\nError: Missing password\n"},
        MissingValueCase{{"-s"}, "\nError: Missing ftp server directory\n"},
        MissingValueCase{{"-u", "bob", "-serverDir"}, "\nError: Missing ftp server directory\n"},
        MissingValueCase{{"-u"}, "\nError: Missing user name\n"},
        MissingValueCase{{"-h", "x", "-U"}, "\nError: Missing user name\n"}));

TEST_F(CommandLine, MissingValueStopsBeforeLaterArguments) {
  // "-s" takes "-q" as its value; "-l" then has none and ends the run at once.
  expectRun(run({"-s", "-q", "-l"}), kBanner + "\nError: Missing local directory\n", 255);
}

TEST_F(CommandLine, UndefinedParametersAreReportedAndParsingGoesOn) {
  expectRun(run({"-q", "/h", "word", "-", "-1"}),
            kBanner + undefined("-q") + undefined("/h") + undefined("word") + undefined("-") +
                undefined("-1") + kUsage,
            255);
}

TEST_F(CommandLine, UndefinedParameterThenMissingValue) {
  expectRun(run({"-x", "-u"}), kBanner + undefined("-x") + "\nError: Missing user name\n", 255);
}

class Switch : public CommandLine, public ::testing::WithParamInterface<std::string> {};

// A switch alone is known (no "Undefined parameter") but is not a connection
// option, so the usage text follows.
TEST_P(Switch, IsKnownButNeedsAConnectionOption) {
  expectRun(run({GetParam()}), kBanner + kUsage, 255);
}

INSTANTIATE_TEST_SUITE_P(Options, Switch,
                         ::testing::Values("-y", "-Y", "-yes", "-c", "-C", "-r", "-R",
                                           "-recursive", "-rx", "-f", "-F", "-ftpWins"),
                         [](const auto& info) {
                           std::string name;
                           for (char ch : info.param)
                             if (ch != '-') name += ch;
                           return name + "_" + std::to_string(info.index);
                         });

TEST_F(CommandLine, AllSwitchesTogetherStillNeedAConnectionOption) {
  expectRun(run({"-y", "-c", "-r", "-f", "-Y", "-yes"}), kBanner + kUsage, 255);
}

TEST_F(CommandLine, HostTakesTheNextArgumentEvenIfItLooksLikeAnOption) {
  // The host becomes "-u"; "name" is then a stray word. -h was given, so the
  // run goes on and fails to connect to a host called "-u".
  RunResult result = run({"-h", "-u", "name"});
  expectEndsWithErrorLine(result,
                          kBanner + undefined("name") + connecting("-u", "") +
                              cantConnect("-u", ""),
                          1);
}

TEST_F(CommandLine, UserAloneIsEnoughToTryToConnect) {
  RunResult result = run({"-u", "bob"});
  expectEndsWithErrorLine(result, kBanner + connecting("", "bob") + cantConnect("", "bob"), 1);
}

class TooLongValue : public CommandLine, public ::testing::WithParamInterface<std::string> {};

TEST_P(TooLongValue, IsRefusedBeforeConnecting) {
  const std::string option = GetParam();
  std::vector<std::string> arguments = {"-h", "127.0.0.1:1", "-u", "u", "-p", "p"};
  arguments.push_back(option);
  arguments.push_back(std::string(260, 'a'));
  RunResult result = run(arguments);
  EXPECT_TRUE(result.exitedWith(1)) << result.describe();
  EXPECT_TRUE(result.output.starts_with(kBanner)) << result.describe();
  EXPECT_NE(result.output.find("'" + option + "'"), std::string::npos)
      << "the message should name the option\n"
      << result.describe();
  EXPECT_EQ(result.output.find("Connecting"), std::string::npos) << result.describe();
  EXPECT_EQ(result.errorOutput, "");
}

INSTANTIATE_TEST_SUITE_P(Options, TooLongValue,
                         ::testing::Values("-h", "-u", "-p", "-s", "-l", "-serverDir"),
                         [](const auto& info) {
                           return info.param.substr(1) + "_" + std::to_string(info.index);
                         });

TEST_F(CommandLine, ValueOf259BytesIsAccepted) {
  const std::string user(259, 'u');
  RunResult result = run({"-h", "127.0.0.1:1", "-u", user});
  expectEndsWithErrorLine(
      result, kBanner + connecting("127.0.0.1:1", user) + cantConnect("127.0.0.1:1", user), 1);
}

TEST_F(CommandLine, ClosedPortFailsToConnect) {
  const std::string host = "127.0.0.1:" + std::to_string(freeLoopbackPort());
  RunResult result = run({"-h", host, "-u", "someone", "-p", "secret"});
  expectEndsWithErrorLine(result,
                          kBanner + connecting(host, "someone") + cantConnect(host, "someone"), 1);
}

TEST_F(CommandLine, UnknownHostFailsToConnect) {
  RunResult result = run({"-h", "no-such-host.invalid", "-u", "someone", "-p", "secret"});
  expectEndsWithErrorLine(result,
                          kBanner + connecting("no-such-host.invalid", "someone") +
                              cantConnect("no-such-host.invalid", "someone"),
                          1);
}

// --- Against real servers ---------------------------------------------------

class StartSequence : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    server = std::make_unique<FtpServer>(GetParam());
    ASSERT_TRUE(server->started()) << server->startError();
    host = server->hostArgument();
  }

  std::vector<std::string> logIn(const std::vector<std::string>& more = {}) const {
    std::vector<std::string> arguments = {"-h", host, "-u", server->user(), "-p",
                                          server->password()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  // Under a terminal, as a user runs it, from `workDir`.
  RunResult run(const std::vector<std::string>& arguments) {
    return runTool(arguments, workDir.path());
  }

  std::string serverLog() const { return "server log:\n" + server->log(); }

  std::unique_ptr<FtpServer> server;
  std::string host;
  TempTree local;
  TempTree workDir;
};

TEST_P(StartSequence, EmptyStartDirectoriesGiveTheTwoStartLines) {
  RunResult result = run(logIn({"-l", local.path()}));
  expectRun(result,
            kBanner + connecting(host, server->user()) + synchronizing(local.path(), "", host), 0);
  EXPECT_EQ(local.snapshot({.skipToolFiles = true}), "");
  EXPECT_EQ(server->tree().snapshot({.skipToolFiles = true}), "") << serverLog();
}

TEST_P(StartSequence, WithoutDirectoriesTheWorkingDirectoryIsTheLocalStart) {
  RunResult result = run(logIn());
  expectRun(result, kBanner + connecting(host, server->user()) + synchronizing("", "", host), 0);
  EXPECT_EQ(workDir.snapshot({.skipToolFiles = true}), "");
}

TEST_P(StartSequence, ServerStartDirectoryIsEntered) {
  server->tree().mkdir("start");
  RunResult result = run(logIn({"-l", local.path(), "-s", "start"}));
  expectRun(result,
            kBanner + connecting(host, server->user()) +
                synchronizing(local.path(), "start", host),
            0);
  EXPECT_EQ(server->tree().snapshot({.skipToolFiles = true}), "start/\n");
}

TEST_P(StartSequence, LaterValueReplacesEarlierAndLongOptionNamesWork) {
  server->tree().mkdir("second");
  RunResult result = run({"-hostname", host, "-user", server->user(), "-password",
                          server->password(), "-serverDir", "first", "-localDir",
                          local.path(), "-S", "second", "-recursive", "-ftpWins"});
  expectRun(result,
            kBanner + connecting(host, server->user()) +
                synchronizing(local.path(), "second", host),
            0);
}

TEST_P(StartSequence, UndefinedParametersDoNotStopTheRun) {
  RunResult result = run(logIn({"-q", "-l", local.path(), "stray"}));
  expectRun(result,
            kBanner + undefined("-q") + undefined("stray") + connecting(host, server->user()) +
                synchronizing(local.path(), "", host),
            0);
}

TEST_P(StartSequence, WrongPasswordIsRefusedWithTheServersReply) {
  RunResult result = run({"-h", host, "-u", server->user(), "-p", "wrong", "-l", local.path()});
  expectEndsWithErrorLine(
      result,
      kBanner + connecting(host, server->user()) + cantConnect(host, server->user()) + "530 ",
      1);
  EXPECT_EQ(local.snapshot(), "");
}

TEST_P(StartSequence, MissingLocalStartDirectory) {
  const std::string missing = local.pathOf("missing");
  RunResult result = run(logIn({"-l", missing, "-s", "not-there-either"}));
  // The server directory is not tried once the local one has failed.
  expectRun(result,
            kBanner + connecting(host, server->user()) + "\nError: Can't open local directory '" +
                missing + "' - No such file or directory\n",
            1);
  EXPECT_EQ(local.snapshot(), "");
}

TEST_P(StartSequence, MissingServerStartDirectory) {
  RunResult result = run(logIn({"-l", local.path(), "-s", "missing"}));
  const std::string prefix = kBanner + connecting(host, server->user()) +
                             "\nError: Can't open ftp server directory 'missing' - ";
  expectEndsWithErrorLine(result, prefix, 1);
  // Both refuse the change of directory with 550; pyftpdlib answers a listing
  // of a missing directory with 501, which is as good a refusal.
  const std::string code = result.output.substr(prefix.size(), 4);
  if (GetParam() == ServerKind::pyftpdlib)
    EXPECT_TRUE(code == "550 " || code == "501 ") << result.describe();
  else
    EXPECT_EQ(code, "550 ") << result.describe();
  EXPECT_EQ(local.snapshot(), "") << "nothing may be written locally";
  EXPECT_EQ(server->tree().snapshot(), "") << serverLog();
}

INSTANTIATE_TEST_SUITE_P(Servers, StartSequence, ::testing::ValuesIn(allServerKinds()),
                         [](const auto& info) { return serverKindName(info.param); });

// The password from the netrc file NETRC names, on pyftpdlib, whose user's
// password only that file holds; -p wins; an exposed file stops the run.
TEST(NetrcFile, GivesThePasswordUnlessExposedOrOverridden) {
  FtpServer server(ServerKind::pyftpdlib);
  ASSERT_TRUE(server.started()) << server.startError();
  const std::string host = server.hostArgument(), user = server.user();
  TempTree local, home;
  const std::string netrc = home.pathOf("netrc"), started = synchronizing("", "", host);
  ScopedEnvironment variable("NETRC", netrc.c_str());
  struct Case {
    std::string password;
    mode_t mode;
    std::vector<std::string> arguments;
    std::string output;
  } cases[] = {
      {server.password(), 0600, {"-u", user}, connecting(host, user) + started},
      {server.password(), 0600, {}, connecting(host, "") + started},
      {"wrong", 0600, {"-u", user, "-p", server.password()}, connecting(host, user) + started},
      {server.password(), 0644, {"-u", user},
       "\nError: Netrc file '" + netrc + "' holds a password that others than its owner can " +
           "read or write; make it private (chmod 600) or take the password out\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.arguments));
    home.write("netrc", "machine 127.0.0.1 login " + user + "\n  password " + c.password + "\n");
    chmod(netrc.c_str(), c.mode);
    const size_t logBefore = server.log().size();
    std::vector<std::string> arguments = {"-h", host};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    expectRun(runTool(arguments, local.path()), kBanner + c.output, c.mode == 0600 ? 0 : 1);
    EXPECT_EQ(server.log().find("session opened", logBefore) == std::string::npos, c.mode != 0600);
  }
}

// -s goes to the server as given; the path the server reports is tracked.
TEST(ServerStartDirectory, IsTheOneTheServerResolves) {
  struct Case {
    ServerKind kind;
    std::string value;
    std::string landsIn;  // where the server puts the file, below its root
  } cases[] = {
      {ServerKind::pyftpdlib, "a/b", "a/b"},
      {ServerKind::vsftpd, "~/a", "a"},
      {ServerKind::vsftpd, "link/..", "real"},  // the server's ".." of the link's target
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    FtpServer server(c.kind);
    ASSERT_TRUE(server.started()) << server.startError();
    server.tree().mkdir("a/b");
    server.tree().mkdir("real/deep");
    ASSERT_EQ(symlink("real/deep", server.tree().pathOf("link").c_str()), 0);
    TempTree local;
    local.write("f.txt", "x");
    RunResult result = runTool({"-h", server.hostArgument(), "-u", server.user(), "-p",
                                server.password(), "-s", c.value, "-y"},
                               local.path());
    EXPECT_TRUE(result.exitedWith(0)) << result.describe();
    EXPECT_EQ(server.tree().read(c.landsIn + "/f.txt"), "x") << server.tree().snapshot();
  }
}

}  // namespace
}  // namespace tandrel::testing
