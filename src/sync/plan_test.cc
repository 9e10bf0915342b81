#include "sync/plan.h"

#include <gtest/gtest.h>

namespace tandrel {
namespace {

using enum FileAction;
using S = FileState;

// Every cell of the decision table, with local winning and with -f.
struct Row {
  S local, server;
  FileAction localWins, serverWins;
};
constexpr Row kRows[] = {
    {S::unchanged, S::unchanged, leave, leave},
    {S::unchanged, S::changed, copyToLocal, copyToLocal},
    {S::unchanged, S::deleted, deleteLocal, deleteLocal},
    {S::unchanged, S::absent, copyToServer, copyToServer},
    {S::changed, S::unchanged, copyToServer, copyToServer},
    {S::changed, S::changed, overwriteServer, overwriteLocal},
    {S::changed, S::deleted, copyToServer, deleteLocal},
    {S::changed, S::absent, copyToServer, copyToServer},
    {S::deleted, S::unchanged, deleteServer, deleteServer},
    {S::deleted, S::changed, deleteServer, copyToLocal},
    {S::deleted, S::deleted, forget, forget},
    {S::deleted, S::absent, forget, forget},
    {S::absent, S::unchanged, copyToLocal, copyToLocal},
    {S::absent, S::changed, copyToLocal, copyToLocal},
    {S::absent, S::deleted, forget, forget},
    {S::absent, S::absent, leave, leave},
};

TEST(FilePlan, EveryCellOfTheTableWithEitherSideWinningConflicts) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(::testing::Message() << "local " << int(row.local) << ", server " << int(row.server));
    EXPECT_EQ(decideFile(row.local, row.server, false), row.localWins);
    EXPECT_EQ(decideFile(row.local, row.server, true), row.serverWins);
  }
}

TEST(FilePlan, NewAndChangedAreOneStateAndNoEntryIsAbsent) {
  Entry entry;
  const std::pair<EntryState, S> states[] = {{Unchanged, S::unchanged}, {New, S::changed},
                                             {Changed, S::changed}, {Deleted, S::deleted}};
  for (auto [state, expected] : states) {
    entry.state = state;
    EXPECT_EQ(fileStateOf(&entry), expected);
  }
  EXPECT_EQ(fileStateOf(nullptr), S::absent);
}

TEST(DirectoryPlan, EveryCellOfTheTable) {
  using D = DirectoryAction;
  using P = DirectoryState;
  const struct {
    P local, server;
    D action;
  } rows[] = {
      {P::present, P::present, D::enter},         {P::present, P::deleted, D::deleteOnLocal},
      {P::present, P::absent, D::createOnServer}, {P::deleted, P::present, D::deleteOnServer},
      {P::deleted, P::deleted, D::forget},        {P::deleted, P::absent, D::forget},
      {P::absent, P::present, D::createOnLocal},  {P::absent, P::deleted, D::forget},
      {P::absent, P::absent, D::leave},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(decideDirectory(row.local, row.server), row.action)
        << "local " << int(row.local) << ", server " << int(row.server);
  }
  Entry entry;
  const std::pair<EntryState, P> states[] = {
      {Unchanged, P::present}, {New, P::present}, {Deleted, P::deleted}, {Dropped, P::absent}};
  for (auto [state, expected] : states) {
    entry.state = state;
    EXPECT_EQ(directoryStateOf(&entry), expected);
  }
  EXPECT_EQ(directoryStateOf(nullptr), P::absent);
}

}  // namespace
}  // namespace tandrel
