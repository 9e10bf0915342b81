#include "storage/status.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace tandrel {
namespace {

TEST(Status, EachFactoryGivesItsKindAndEndsItsTextOnce) {
  struct Row {
    Status status;
    Status::Kind kind;
    const char* text;
  };
  const Row rows[] = {
      {Status::OK(), Status::Kind::ok, ""},
      {Status::noMoreEntries(), Status::Kind::noMoreEntries, ""},
      {Status::notFound("gone"), Status::Kind::notFound, "gone\n"},
      {Status::refused("550 No\n"), Status::Kind::refused, "550 No\n"},
      {Status::refused("550-a\n550 b\n"), Status::Kind::refused, "550-a\n550 b\n"},
      {Status::system(""), Status::Kind::system, ""},
      {Status::transport("Timeout"), Status::Kind::transport, "Timeout\n"},
      {Status::fromErrno(ENOENT), Status::Kind::notFound, "No such file or directory\n"},
      {Status::fromErrno(EACCES), Status::Kind::system, "Permission denied\n"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.status.kind(), row.kind) << row.text;
    EXPECT_EQ(row.status.text(), row.text);
    EXPECT_EQ(row.status.ok(), row.kind == Status::Kind::ok) << row.text;
    EXPECT_EQ(row.status.isNotFound(), row.kind == Status::Kind::notFound) << row.text;
  }
}

}  // namespace
}  // namespace tandrel
