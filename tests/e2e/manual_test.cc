// The manual page and the README against the program: the page renders
// without a single warning, and the options it documents are exactly the
// options the built tool accepts, so neither can drift from the other.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/pty_run.h"
#include "support/tool_text.h"
#include "support/temp_tree.h"

namespace tandrel::testing {
namespace {

const std::string kManualPage = std::string(TANDREL_SOURCE_DIR) + "/docs/tandrel.1";
const std::string kReadme = std::string(TANDREL_SOURCE_DIR) + "/README.md";


std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// The lines of one section: from the line `heading` up to the next line that
// starts a section of the same level (`nextPrefix`).
std::vector<std::string> sectionOf(const std::string& text, const std::string& heading,
                                   const std::string& nextPrefix) {
  std::vector<std::string> section;
  bool inside = false;
  for (const std::string& line : linesOf(text)) {
    if (line == heading) {
      inside = true;
      continue;
    }
    if (inside && line.starts_with(nextPrefix)) break;
    if (inside) section.push_back(line);
  }
  return section;
}

// Letters as a sorted string without repeats, e.g. "cfhlprsuy".
std::string lettersOf(const std::multiset<char>& letters) {
  std::string text(letters.begin(), letters.end());
  text.erase(std::unique(text.begin(), text.end()), text.end());
  return text;
}

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The letter of an option written as `dash` + letter at the start of `text`,
// when the letter ends the word; otherwise 0.
char optionAt(std::string_view text, std::string_view dash) {
  if (!text.starts_with(dash) || text.size() <= dash.size() || !isLetter(text[dash.size()])) {
    return 0;
  }
  if (text.size() > dash.size() + 1 && isLetter(text[dash.size() + 1])) return 0;
  return text[dash.size()];
}

// The tags of the .TP items of OPTIONS: ".B \-r" or ".BI \-h " host"".
std::multiset<char> manualOptionLetters(const std::string& page) {
  std::multiset<char> letters;
  std::vector<std::string> section = sectionOf(page, ".SH OPTIONS", ".SH ");
  for (size_t i = 0; i + 1 < section.size(); ++i) {
    if (section[i] != ".TP") continue;
    std::string_view tag = section[i + 1];
    for (std::string_view macro : {".B ", ".BI ", ".BR "}) {
      if (!tag.starts_with(macro)) continue;
      tag.remove_prefix(macro.size());
      if (tag.starts_with("\"")) tag.remove_prefix(1);
      if (char letter = optionAt(tag, "\\-")) letters.insert(letter);
      break;
    }
  }
  return letters;
}

std::multiset<char> synopsisOptionLetters(const std::string& page) {
  std::multiset<char> letters;
  for (const std::string& line : sectionOf(page, ".SH SYNOPSIS", ".SH ")) {
    for (size_t at = line.find("\\-"); at != std::string::npos; at = line.find("\\-", at + 1)) {
      if (char letter = optionAt(std::string_view(line).substr(at), "\\-")) letters.insert(letter);
    }
  }
  return letters;
}

// The option lines of the usage text: "    -h  ..." and "   [-s(erverDir) ...".
std::multiset<char> usageOptionLetters(const std::string& usage) {
  std::multiset<char> letters;
  for (const std::string& line : linesOf(usage)) {
    std::string_view rest = line;
    size_t indent = rest.find_first_not_of(' ');
    if (indent == 0 || indent == std::string_view::npos) continue;
    rest.remove_prefix(indent);
    if (rest.starts_with("[")) rest.remove_prefix(1);
    if (rest.size() >= 2 && rest[0] == '-' && isLetter(rest[1])) letters.insert(rest[1]);
  }
  return letters;
}

// The rows of the README's option table: "| `-h host` | ...".
std::multiset<char> readmeOptionLetters(const std::string& readme) {
  std::multiset<char> letters;
  for (const std::string& line : sectionOf(readme, "## Options", "## ")) {
    std::string_view row = line;
    if (!row.starts_with("| `-") || row.size() < 6 || !isLetter(row[4])) continue;
    if (row[5] == ' ' || row[5] == '`') letters.insert(row[4]);
  }
  return letters;
}

class ManualPage : public ::testing::Test {
 protected:
  void SetUp() override {
    page = readText(kManualPage);
    ASSERT_FALSE(page.empty()) << "cannot read " << kManualPage;
  }

  std::string page;
  TempTree scratch;
};

TEST_F(ManualPage, RendersWithoutWarningsInGroff) {
  if (!executable("/usr/bin/groff")) GTEST_SKIP() << "groff is not installed";
  RunResult result =
      runPiped("/usr/bin/groff", {"-man", "-ww", "-z", kManualPage}, std::nullopt, scratch.path());
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  EXPECT_EQ(result.errorOutput, "");
}

TEST_F(ManualPage, RendersWithoutWarningsInMan) {
  if (!executable("/usr/bin/man") || !executable("/usr/bin/groff")) {
    GTEST_SKIP() << "man-db or groff is not installed";
  }
  RunResult result =
      runPiped("/usr/bin/man", {"--warnings=w", "-l", kManualPage}, std::nullopt, scratch.path());
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  EXPECT_EQ(result.errorOutput, "");
  for (const char* heading : {"TANDREL(1)", "\nNAME\n", "\nOPTIONS\n", "\nEXIT STATUS\n"}) {
    EXPECT_NE(result.output.find(heading), std::string::npos)
        << heading << " in\n" << result.output.substr(0, 400);
  }
}

TEST_F(ManualPage, HasTheSectionsOfACommandPage) {
  for (const char* heading : {".SH NAME", ".SH SYNOPSIS", ".SH DESCRIPTION", ".SH OPTIONS",
                              ".SH FILES", ".SH EXIT STATUS", ".SH SECURITY", ".SH EXAMPLES",
                              ".SH LIMITATIONS"}) {
    EXPECT_NE(page.find(std::string("\n") + heading + "\n"), std::string::npos) << heading;
  }
  std::string files;
  for (const std::string& line : sectionOf(page, ".SH FILES", ".SH ")) files += line + "\n";
  for (const char* file : {"zztandrel.zzlocaldb", "zztandrel.zzserverdb", "zztandrel.zztemp"}) {
    EXPECT_NE(files.find(file), std::string::npos) << file;
  }
}

TEST_F(ManualPage, NoArgumentsPrintsExactlyTheBannerAndTheUsage) {
  RunResult result = runToolPiped({}, scratch.path());
  EXPECT_EQ(result.output, kBanner + kUsage) << result.describe();
  EXPECT_TRUE(result.exitedWith(255)) << result.describe();
  EXPECT_EQ(result.errorOutput, "");
}

// Asks the program itself which letters it takes: an option it does not know
// prints "Undefined parameter"; one it knows prints its missing-value message
// or, being a lone switch, the usage.
std::string lettersTheProgramAccepts(const std::string& workingDirectory) {
  std::multiset<char> letters;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    RunResult lower = runToolPiped({std::string("-") + letter}, workingDirectory);
    RunResult upper = runToolPiped({std::string("-") + static_cast<char>(letter - 'a' + 'A')},
                                   workingDirectory);
    EXPECT_TRUE(lower.exitedWith(255)) << letter << "\n" << lower.describe();
    const bool accepted = lower.output.find("Undefined parameter") == std::string::npos;
    if (accepted) {
      letters.insert(letter);
      EXPECT_EQ(upper.output, lower.output) << "options count in either case: " << letter;
    } else {
      EXPECT_NE(upper.output.find("Undefined parameter"), std::string::npos) << upper.output;
    }
  }
  return lettersOf(letters);
}

TEST_F(ManualPage, DocumentsExactlyTheOptionsTheProgramAccepts) {
  RunResult usage = runToolPiped({}, scratch.path());
  const std::string fromUsage = lettersOf(usageOptionLetters(usage.output));
  const std::string fromProgram = lettersTheProgramAccepts(scratch.path());
  EXPECT_EQ(fromUsage, "cfhlprsuy");
  EXPECT_EQ(fromProgram, fromUsage);

  std::multiset<char> documented = manualOptionLetters(page);
  EXPECT_EQ(documented.size(), lettersOf(documented).size()) << "an option documented twice";
  EXPECT_EQ(lettersOf(documented), fromProgram) << "the .TP items of OPTIONS in docs/tandrel.1";
  EXPECT_EQ(lettersOf(synopsisOptionLetters(page)), fromProgram) << "SYNOPSIS";
}

TEST_F(ManualPage, ReadmeListsExactlyTheOptionsTheProgramAccepts) {
  std::string readme = readText(kReadme);
  ASSERT_FALSE(readme.empty()) << "cannot read " << kReadme;
  RunResult usage = runToolPiped({}, scratch.path());
  std::multiset<char> listed = readmeOptionLetters(readme);
  EXPECT_EQ(listed.size(), lettersOf(listed).size()) << "an option listed twice";
  EXPECT_EQ(lettersOf(listed), lettersOf(usageOptionLetters(usage.output)))
      << "the option table under \"## Options\" in README.md";
}

}  // namespace
}  // namespace tandrel::testing
