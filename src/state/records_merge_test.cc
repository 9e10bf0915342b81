#include "state/records_merge.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tandrel {
namespace {

constexpr FileTime kMinute = 600000000;  // in 100 ns units
constexpr FileTime kT = 1000 * kMinute;  // a whole minute

struct Item {
  std::string name;  // ending in '/' for a directory
  FileTime time = 0;
  bool skipped = false;
  TimeShown shown = TimeShown::all;
};

EntryList listOf(const std::vector<Item>& items) {
  EntryList list;
  for (const Item& item : items) {
    auto entry = std::make_unique<Entry>();
    entry->isDirectory = item.name.ends_with('/');
    entry->name = entry->isDirectory ? item.name.substr(0, item.name.size() - 1) : item.name;
    entry->writeTime = item.time;
    entry->skipped = item.skipped;
    entry->timeShown = item.shown;
    list.push_back(std::move(entry));
  }
  return list;
}

// "name:state@time" for each entry, '/' after a directory, '!' after a skipped one.
std::string describe(const EntryList& list) {
  std::string text;
  for (const auto& e : list) {
    if (!text.empty()) text += ' ';
    text += e->name + (e->isDirectory ? "/" : "") + (e->skipped ? "!" : "") + ":" +
            std::to_string(static_cast<int>(e->state)) + "@" +
            std::to_string(e->writeTime / kMinute);
  }
  return text;
}

struct Row {
  const char* what;
  std::vector<Item> listed, recorded;
  bool isLocal, unreadLines;
  const char* expected;
};

TEST(MergeWithRecords, FollowsTheTable) {
  const Row rows[] = {
      {"nothing recorded: all new", {{"a", kT}, {"d/"}}, {}, true, false, "a:2@1000 d/:2@0"},
      {"same, older and newer files",
       {{"newer", kT + kMinute}, {"older", kT - kMinute}, {"same", kT}},
       {{"newer", kT}, {"older", kT}, {"same", kT}}, true, false,
       "newer:4@1000 older:1@999 same:1@1000"},
      {"gone entries become placeholders in order", {{"b", kT}}, {{"a", kT}, {"c", kT}, {"e/"}},
       true, false, "a:3@0 b:2@1000 c:3@0 e/:3@0"},
      {"a file and a directory of one name never pair", {{"x", kT}}, {{"x/"}}, true, false,
       "x:2@1000 x/:3@0"},
      {"a directory's time is never compared", {{"d/", kT + kMinute}}, {{"d/", kT}}, true, false,
       "d/:1@1001"},
      {"an unread line keeps every record", {{"b", kT}}, {{"a", kT}}, false, true,
       "a!:1@1000 b:2@1000"},
      {"a skipped name takes its record's time", {{"s", 0, true}, {"t", 0, true}},
       {{"s", kT}}, true, false, "s!:1@1000 t!:0@0"},
      {"seconds within the recorded minute on the server", {{"f", kT + kMinute / 2}},
       {{"f", kT}}, false, false, "f:1@1000"},
      {"the same seconds on the local side are a change", {{"f", kT + kMinute / 2}},
       {{"f", kT}}, true, false, "f:4@1000"},
      {"a server that shows no time agrees with the record",
       {{"f", 0, false, TimeShown::none}}, {{"f", kT}}, false, false, "f:1@1000"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(describe(mergeWithRecords(listOf(row.listed), listOf(row.recorded), row.isLocal,
                                        row.unreadLines)),
              row.expected)
        << row.what;
  }
}

}  // namespace
}  // namespace tandrel
