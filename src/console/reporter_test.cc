#include "console/reporter.h"

#include <gtest/gtest.h>

#include <string>

namespace tandrel {
namespace {

std::string printed(Reporter& report, const Status& status) {
  ::testing::internal::CaptureStdout();
  report.error(status, "Error: Can't delete %s file '%s'", "local", "a");
  return ::testing::internal::GetCapturedStdout();
}

TEST(Reporter, ErrorEndsWithTheStatusTextOrAFullStop) {
  const std::string longLine(300, 'x');
  struct Row {
    Status status;
    std::string end;
  };
  const Row rows[] = {
      {Status::OK(), ".\n"},
      {Status::system(""), ".\n"},
      {Status::refused("550 No such file\n"), " - 550 No such file\n"},
      {Status::refused("550-First\n550 Second\n"), " - 550-First\n550 Second\n"},
      {Status::transport(longLine), " - " + std::string(254, 'x') + "\n"},
  };
  Reporter report;
  for (const Row& row : rows) {
    EXPECT_EQ(printed(report, row.status), "Error: Can't delete local file 'a'" + row.end);
  }
  EXPECT_EQ(report.problems(), 5);
}

TEST(Reporter, ErrorWithoutAStatusAndNotedProblemsCount) {
  Reporter report;
  ::testing::internal::CaptureStdout();
  report.error("Error: %d", 7);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error: 7.\n");
  report.noteProblem();
  EXPECT_EQ(report.problems(), 2);
}

}  // namespace
}  // namespace tandrel
