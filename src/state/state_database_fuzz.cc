// libFuzzer target for the state database loader: the bytes are a database
// file as a disk, another program or a broken earlier run may have left it.
// decodeDatabase must accept it or refuse it without reading past the bytes,
// and what it accepts must survive a save and a load unchanged. Built only with
// -DTANDREL_FUZZ=ON (clang); the regression test includes this file to run the
// very same checks.
#include <cstddef>
#include <cstdint>
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
  // Whatever the outcome, the loader must set the list.
  static Entry sentinel;
  Entry* list = &sentinel;
  const bool ok = decodeDatabase(bytes, list);
  if (list == &sentinel) return "the list was left as it was";
  if (!ok) {
    if (list != nullptr) return "a refused file left entries behind";
    return nullptr;
  }

  size_t count = 0;
  for (Entry* entry = list; entry != nullptr; entry = entry->next) {
    ++count;
    if (entry->name.empty()) {
      delete list;
      return "an entry with an empty name";
    }
    if (entry->isDirectory != 0 && entry->isDirectory != 1) {
      delete list;
      return "isDirectory is neither 0 nor 1";
    }
    // A saved entry is one that was listed; the loader's own state is irrelevant.
    entry->state = Unchanged;
  }
  if (count > size / kSmallestRecord) {
    delete list;
    return "more entries than the bytes can hold";
  }

  // What was loaded saves to no more bytes than it came from, and loads back
  // the same.
  const std::string saved = encodeDatabase(list);
  const char* problem = nullptr;
  Entry* reloaded = nullptr;
  if (count > 0 && saved.size() > bytes.size()) {
    problem = "saving grew the file";
  } else if (!decodeDatabase(saved, reloaded)) {
    problem = "a saved database does not load";
  } else {
    const Entry* a = list;
    const Entry* b = reloaded;
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
      if (a->name != b->name || a->writeTime != b->writeTime || a->isDirectory != b->isDirectory) {
        break;
      }
    }
    if (a != nullptr || b != nullptr) problem = "a saved database loads differently";
  }
  delete reloaded;
  delete list;
  return problem;
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
