// libFuzzer target for the state database loader: the bytes are a database
// file as a disk, another program or a broken earlier run may have left it.
// decodeDatabase must accept it or refuse it without reading past the bytes,
// and what it accepts must survive a save and a load unchanged. Built only with
// -DTANDREL_FUZZ=ON (clang); the regression test includes this file to run the
// very same checks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "state/entry.h"
#include "state/state_database.h"

namespace tandrel::fuzz {

namespace {

// The smallest record: a two-byte length, a one-byte name and three u32s.
constexpr size_t kSmallestRecord = 2 + 1 + 3 * 4;

}  // namespace

// Null when the bytes went through without breaking a promise; otherwise what
// was broken.
const char* checkDatabaseInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // Whatever the outcome, the loader must replace what the list held.
  EntryList list;
  list.push_back(std::make_unique<Entry>());
  const bool ok = decodeDatabase(bytes, list);
  if (!ok) return list.empty() ? nullptr : "a refused file left entries behind";

  for (const auto& entry : list) {
    if (entry->name.empty()) return "an entry with an empty name";
    // A saved entry is one that was listed; the loader's own state is irrelevant.
    entry->state = EntryState::Unchanged;
  }
  if (list.size() > size / kSmallestRecord) return "more entries than the bytes can hold";

  // What was loaded saves to no more bytes than it came from, and loads back
  // the same.
  const std::string saved = encodeDatabase(list);
  EntryList reloaded;
  if (!list.empty() && saved.size() > bytes.size()) return "saving grew the file";
  if (!decodeDatabase(saved, reloaded)) return "a saved database does not load";
  const bool same = std::equal(list.begin(), list.end(), reloaded.begin(), reloaded.end(),
                               [](const auto& a, const auto& b) {
                                 return a->name == b->name && a->writeTime == b->writeTime &&
                                        a->isDirectory == b->isDirectory;
                               });
  return same ? nullptr : "a saved database loads differently";
}

}  // namespace tandrel::fuzz

#ifndef TANDREL_FUZZ_REGRESSION
#include <sanitizer/common_interface_defs.h>

#include <string>

using namespace std::string_literals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (const char* problem = tandrel::fuzz::checkDatabaseInput(data, size)) {
    __sanitizer_report_error_summary(("database check failed: "s + problem).c_str());
    __builtin_trap();
  }
  return 0;
}
#endif
