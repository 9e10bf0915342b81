#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/host_address.h"
#include "state/run_state.h"

namespace tandrel {
namespace {

struct Parsed {
  int status;
  std::string output;
  RunOptions options;
};

// Parses a command line held in writable buffers (the password is wiped in place).
Parsed parse(std::vector<std::string> arguments) {
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  RunOptions options;
  ::testing::internal::CaptureStdout();
  int status = parseOptions(static_cast<int>(pointers.size()), pointers.data(), options);
  return {status, ::testing::internal::GetCapturedStdout(), options};
}

TEST(ParseOptions, ValuesAndSwitches) {
  Parsed parsed = parse({"-h", "host", "-U", "me", "-password", "-secret", "-s", "a", "-S", "b",
                         "-l", "dir", "-Recursive", "-ftpWins"});
  EXPECT_EQ(parsed.status, 0);
  EXPECT_EQ(parsed.output, "");
  const RunSettings& settings = parsed.options.settings;
  EXPECT_EQ(settings.host, "host");
  EXPECT_EQ(settings.user, "me");
  EXPECT_EQ(settings.password, "-secret");  // a value is never an option
  EXPECT_EQ(settings.serverDirectory, "b"); // the later value wins
  EXPECT_EQ(settings.localDirectory, "dir");
  EXPECT_TRUE(settings.recursive);
  EXPECT_TRUE(settings.ftpWins);
}

TEST(ParseOptions, MissingValuesEndWithTheirMessage) {
  struct Case {
    const char* option;
    const char* message;
  } cases[] = {
      {"-h", "\nError: Missing ftp host name\n"},
      {"-u", "\nError: Missing user name\n"},
      {"-p", "\nError: Missing password\n"},
      {"-s", "\nError: Missing ftp server directory\n"},
      {"-L", "\nError: Missing local directory\n"},
  };
  for (const Case& c : cases) {
    Parsed parsed = parse({"-u", "me", c.option});
    EXPECT_EQ(parsed.status, 255) << c.option;
    EXPECT_EQ(parsed.output, c.message) << c.option;
  }
}

TEST(ParseOptions, UndefinedParametersAreReportedAndSkipped) {
  Parsed parsed = parse({"-q", "/h", "word", "-", "-u", "me"});
  EXPECT_EQ(parsed.status, 0);
  EXPECT_EQ(parsed.output,
            "\nError: Undefined parameter '-q'\n\nError: Undefined parameter '/h'\n"
            "\nError: Undefined parameter 'word'\n\nError: Undefined parameter '-'\n");
  EXPECT_EQ(parsed.options.settings.user, "me");
}

TEST(ParseOptions, HostTakesTheNextArgumentWhateverItIs) {
  Parsed parsed = parse({"-h", "-u", "name"});
  EXPECT_EQ(parsed.status, 0);
  EXPECT_EQ(parsed.options.settings.host, "-u");
  EXPECT_EQ(parsed.output, "\nError: Undefined parameter 'name'\n");
}

TEST(ParseOptions, WithoutHostUserOrPasswordPrintsUsage) {
  Parsed parsed = parse({"-r", "-y"});
  EXPECT_EQ(parsed.status, 255);
  EXPECT_TRUE(parsed.output.starts_with(
      "\nSynchronizes contents of the local and ftp server directories.\n\nusage: Tandrel\n"))
      << parsed.output;
}

TEST(ParseOptions, StandingAnswersFromYAndC) {
  Parsed parsed = parse({"-u", "me", "-yes"});
  const StandingAnswers& always = parsed.options.always;
  EXPECT_EQ(always.deleteUnchangedFile + always.deleteUpdatedFile + always.overwrite +
                always.createDirectory + always.deleteDirectory,
            5);
  EXPECT_EQ(always.recreateDirectory, 0);
  EXPECT_TRUE(parsed.options.yesSwitch);
  parsed = parse({"-u", "me", "-C"});
  EXPECT_EQ(parsed.options.always.recreateDirectory, 1);
  EXPECT_EQ(parsed.options.always.deleteDirectory, 0);
  EXPECT_FALSE(parsed.options.yesSwitch);
}

TEST(ParseOptions, TooLongValueIsRefusedNotCut) {
  Parsed parsed = parse({"-u", "me", "-s", std::string(260, 'x')});
  EXPECT_EQ(parsed.status, 1);
  EXPECT_NE(parsed.output.find("'-s'"), std::string::npos) << parsed.output;
  EXPECT_EQ(parse({"-u", std::string(259, 'x')}).status, 0);
}

TEST(ParseOptions, PasswordIsWipedFromTheArguments) {
  RunOptions options;
  std::string user = "-u", name = "me", option = "-p", password = "secret";
  char* arguments[] = {user.data(), name.data(), option.data(), password.data()};
  ::testing::internal::CaptureStdout();
  parseOptions(4, arguments, options);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(options.settings.password, "secret");
  EXPECT_EQ(std::string(password.c_str()), "");
}

TEST(HostArgument, Forms) {
  struct Case {
    const char* text;
    const char* host;
    int port;
    Security security;
  } cases[] = {
      {"example.org", "example.org", 21, Security::none},
      {"example.org:2121", "example.org", 2121, Security::none},
      {"[::1]:2121", "::1", 2121, Security::none},
      {"[::1]", "::1", 21, Security::none},
      {"::1", "::1", 21, Security::none},
      {"ftp://example.org", "example.org", 21, Security::none},
      {"ftp://example.org:99/", "example.org", 99, Security::none},
      {"ftps://example.org", "example.org", 990, Security::implicit},
      {"ftpes://example.org:2121", "example.org", 2121, Security::explicit_},
      {"", "", 21, Security::none},
      {"example.org/dir", "example.org", 21, Security::none},
      {"example.org:2121/dir/sub", "example.org", 2121, Security::none},
      {"[::1]:2121/dir", "::1", 2121, Security::none},
  };
  for (const Case& c : cases) {
    ServerAddress address;
    std::string problem;
    ASSERT_TRUE(parseHostArgument(c.text, address, problem)) << c.text;
    EXPECT_EQ(address.host, c.host) << c.text;
    EXPECT_EQ(address.port, c.port) << c.text;
    EXPECT_EQ(address.security, c.security) << c.text;
  }
  ServerAddress address;
  std::string problem;
  EXPECT_FALSE(parseHostArgument("host:0", address, problem));
  EXPECT_FALSE(parseHostArgument("host:http", address, problem));
  EXPECT_FALSE(parseHostArgument("[::1", address, problem));
}

}  // namespace
}  // namespace tandrel
