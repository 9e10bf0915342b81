// The decision rules, one table per decision: each row is a cell of the
// README's decision table or a rule that bends it (the switches, the standing
// answers, skipped entries, links), with the plan it calls for.
#include "sync/plan.h"

#include <gtest/gtest.h>

#include <iterator>
#include <tuple>

namespace tandrel {
namespace {

using enum EntryState;

using S = FileState;
using P = DirectoryState;
using F = FileAction;
using D = DirectoryAction;
constexpr Confirm ask = Confirm::ask;
constexpr Confirm unasked = Confirm::no;
constexpr KeepNewFiles keep = KeepNewFiles::yes;
constexpr KeepNewFiles nothingKept = KeepNewFiles::no;

const Policy kLocalWins{};
const Policy kServerWins{.ftpWins = true};

TEST(FilePlan, EveryCellAndRule) {
  const struct {
    FilePair pair;
    Policy policy;
    FilePlan plan;
  } rows[] = {
      {{S::unchanged, S::unchanged}, kLocalWins, {F::leave}},
      {{S::unchanged, S::changed}, kLocalWins, {F::copyToLocal}},
      {{S::unchanged, S::deleted}, kLocalWins, {F::deleteLocal, ask}},
      {{S::unchanged, S::absent}, kLocalWins, {F::copyToServer}},
      {{S::changed, S::unchanged}, kLocalWins, {F::copyToServer}},
      {{S::changed, S::changed}, kLocalWins, {F::overwriteServer, ask}},
      {{S::changed, S::deleted}, kLocalWins, {F::copyToServer}},
      {{S::changed, S::absent}, kLocalWins, {F::copyToServer}},
      {{S::deleted, S::unchanged}, kLocalWins, {F::deleteServer, ask}},
      {{S::deleted, S::changed}, kLocalWins, {F::deleteServer, ask}},
      {{S::deleted, S::deleted}, kLocalWins, {F::forget}},
      {{S::deleted, S::absent}, kLocalWins, {F::forget}},
      {{S::absent, S::unchanged}, kLocalWins, {F::copyToLocal}},
      {{S::absent, S::changed}, kLocalWins, {F::copyToLocal}},
      {{S::absent, S::deleted}, kLocalWins, {F::forget}},
      {{S::absent, S::absent}, kLocalWins, {F::leave}},
      // -f turns the three conflicts round and nothing else.
      {{S::changed, S::changed}, kServerWins, {F::overwriteLocal, ask}},
      {{S::changed, S::deleted}, kServerWins, {F::deleteLocal, ask}},
      {{S::deleted, S::changed}, kServerWins, {F::copyToLocal}},
      {{S::unchanged, S::deleted}, kServerWins, {F::deleteLocal, ask}},
      {{S::deleted, S::unchanged}, kServerWins, {F::deleteServer, ask}},
      // A skipped entry leaves its pair alone, whatever the states.
      {{S::changed, S::deleted, true}, kLocalWins, {F::leaveSkipped}},
      {{S::absent, S::unchanged, true}, kLocalWins, {F::leaveSkipped}},
      // Standing answers: each question kind has its own.
      {{S::changed, S::changed}, {.always = {.overwrite = true}}, {F::overwriteServer, unasked}},
      {{S::unchanged, S::deleted}, {.always = {.deleteUnchangedFile = true}}, {F::deleteLocal}},
      {{S::unchanged, S::deleted}, {.always = {.deleteUpdatedFile = true}}, {F::deleteLocal, ask}},
      {{S::deleted, S::changed}, {.always = {.deleteUpdatedFile = true}}, {F::deleteServer}},
      {{S::deleted, S::changed}, {.always = {.deleteUnchangedFile = true}}, {F::deleteServer, ask}},
      {{S::changed, S::deleted}, {.ftpWins = true, .always = {.deleteUpdatedFile = true}},
       {F::deleteLocal}},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_TRUE(decide(rows[i].pair, rows[i].policy) == rows[i].plan) << "row " << i;
  }
}

TEST(DirectoryPlan, EveryCellAndRule) {
  const Policy r{.recursive = true};
  const Policy ry{.recursive = true, .unattended = true, .always = {.deleteDirectory = true}};
  const Policy ryf{.ftpWins = true, .recursive = true, .unattended = true,
                   .always = {.deleteDirectory = true}};
  const struct {
    DirectoryPair pair;
    Policy policy;
    DirectoryPlan plan;
  } rows[] = {
      {{P::present, P::present}, r, {D::enter}},
      {{P::present, P::deleted}, r, {D::deleteOnLocal, ask}},
      {{P::present, P::absent}, r, {D::createOnServer, ask}},
      {{P::deleted, P::present}, r, {D::deleteOnServer, ask}},
      {{P::deleted, P::deleted}, r, {D::forget}},
      {{P::deleted, P::absent}, r, {D::forget}},
      {{P::absent, P::present}, r, {D::createOnLocal, ask}},
      {{P::absent, P::deleted}, r, {D::forget}},
      {{P::absent, P::absent}, r, {D::leave}},
      // Without -r no directory pair is entered, skipped or not.
      {{P::present, P::present}, {}, {D::leaveUnentered}},
      {{P::present, P::deleted, true}, {}, {D::leaveUnentered}},
      {{P::present, P::deleted, true}, r, {D::leaveSkipped}},
      // Standing answers: delete goes before recreate.
      {{P::absent, P::present}, {.recursive = true, .always = {.createDirectory = true}},
       {D::createOnLocal}},
      {{P::present, P::deleted}, {.recursive = true, .always = {.recreateDirectory = true}},
       {D::recreateOnServer}},
      {{P::deleted, P::present}, {.recursive = true, .always = {.recreateDirectory = true}},
       {D::recreateOnLocal}},
      {{P::deleted, P::present},
       {.recursive = true, .always = {.deleteDirectory = true, .recreateDirectory = true}},
       {D::deleteOnServer}},
      // -y keeps what is new in a tree deleted on the side that wins file
      // conflicts; a link goes as a link.
      {{P::present, P::deleted}, ry, {D::deleteOnLocal, unasked, keep}},
      {{P::deleted, P::present}, ry, {D::deleteOnServer, unasked, nothingKept}},
      {{P::present, P::deleted}, ryf, {D::deleteOnLocal, unasked, nothingKept}},
      {{P::deleted, P::present}, ryf, {D::deleteOnServer, unasked, keep}},
      {{P::present, P::deleted, false, true}, ry, {D::deleteOnLocal}},
      {{P::deleted, P::present, false, false, true}, ryf, {D::deleteOnServer}},
      {{P::present, P::deleted}, {.recursive = true, .unattended = true},
       {D::deleteOnLocal, ask, keep}},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_TRUE(decide(rows[i].pair, rows[i].policy) == rows[i].plan) << "row " << i;
  }
}

TEST(EmptiedSide, RefusedOnlyUnattendedWithTwoRecordsGoneAndTheOtherSideListing) {
  const struct {
    SideCounts empty, other;
    bool unattended, refuses;
  } rows[] = {
      {{0, 2}, {1, 0}, true, true},   {{0, 2}, {1, 0}, false, false},
      {{0, 1}, {3, 0}, true, false},  {{1, 2}, {1, 0}, true, false},
      {{0, 2}, {0, 0}, true, false},  {{0, 2}, {0, 5}, true, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(refusesEmptiedSide(row.empty, row.other, {.unattended = row.unattended}),
              row.refuses)
        << row.empty.listed << "/" << row.empty.gone << " against " << row.other.listed;
  }
}

TEST(PairFacts, StatesSkippedEntriesAndLinks) {
  Entry entry;
  const std::tuple<EntryState, S, P> states[] = {{Unchanged, S::unchanged, P::present},
                                                 {New, S::changed, P::present},
                                                 {Changed, S::changed, P::present},
                                                 {Deleted, S::deleted, P::deleted},
                                                 {Dropped, S::absent, P::absent}};
  for (auto [state, file, directory] : states) {
    entry.state = state;
    EXPECT_EQ(fileStateOf(&entry), file);
    EXPECT_EQ(directoryStateOf(&entry), directory);
  }
  EXPECT_EQ(fileStateOf(nullptr), S::absent);
  EXPECT_EQ(directoryStateOf(nullptr), P::absent);
  entry.skipped = true;
  entry.isLink = true;
  EXPECT_TRUE(filePairOf(nullptr, &entry).skipped);
  EXPECT_FALSE(filePairOf(nullptr, nullptr).skipped);
  const DirectoryPair pair = directoryPairOf(nullptr, &entry);
  EXPECT_TRUE(pair.skipped && pair.serverIsLink && !pair.localIsLink);
}

}  // namespace
}  // namespace tandrel
