#include "storage/replacement_journal.h"

#include <string_view>

#include "storage/local_side.h"
#include "storage/reserved_names.h"
#include "storage/server_side.h"

namespace tandrel {

namespace {

constexpr std::string_view kHeader = "tandrel replacement 1\n";

std::string encode(const Replacement& replacement) {
  return std::string(kHeader) + replacement.name + "\n" + replacement.temporary + "\n" +
         replacement.aside + "\n";
}

// False for anything but a complete record of three safe names.
bool decode(const std::string& bytes, Replacement& replacement) {
  if (!bytes.starts_with(kHeader)) return false;
  std::string* fields[] = {&replacement.name, &replacement.temporary, &replacement.aside};
  size_t at = kHeader.size();
  for (std::string* field : fields) {
    const size_t end = bytes.find('\n', at);
    if (end == std::string::npos) return false;
    *field = bytes.substr(at, end - at);
    if (isUnsafeName(*field)) return false;
    at = end + 1;
  }
  return at == bytes.size() && replacement.temporary.starts_with(kTemporaryPrefix) &&
         replacement.aside.starts_with(kTemporaryPrefix);
}

enum class Presence { present, absent, unknown };

Presence presence(ServerSide& server, const std::string& name) {
  ListRecord record;
  Status found = server.lookUp(name, record);
  if (found.ok()) return Presence::present;
  return found.isNotFound() ? Presence::absent : Presence::unknown;
}

bool removeIfPresent(ServerSide& server, const std::string& name) {
  const Presence there = presence(server, name);
  if (there == Presence::absent) return true;
  return there == Presence::present && server.deleteFile(name).ok();
}

bool settleOnServer(ServerSide& server, const Replacement& r) {
  const Presence real = presence(server, r.name);
  if (real == Presence::unknown) return false;
  if (real == Presence::present) {
    // Either the old copy never left (the new one is still complete locally,
    // which shows as changed) or the new one already took its place.
    return removeIfPresent(server, r.temporary) && removeIfPresent(server, r.aside);
  }
  const Presence aside = presence(server, r.aside);
  if (aside == Presence::unknown) return false;
  if (aside == Presence::present) {
    return server.renameFile(r.aside, r.name).ok() && removeIfPresent(server, r.temporary);
  }
  const Presence fresh = presence(server, r.temporary);
  if (fresh == Presence::unknown) return false;
  return fresh == Presence::absent || server.renameFile(r.temporary, r.name).ok();
}

}  // namespace

Status LocalReplacementJournal::begin(const Replacement& replacement) {
  return local_.replaceFile(std::string(kJournalName), encode(replacement));
}

void LocalReplacementJournal::end() { (void)local_.deleteFile(std::string(kJournalName)); }

bool LocalReplacementJournal::settle() { return settleReplacement(local_, server_); }

bool settleReplacement(LocalSide& local, ServerSide& server) {
  std::string bytes;
  if (Status read = local.readFile(std::string(kJournalName), bytes); !read.ok()) {
    return read.isNotFound();
  }
  Replacement replacement;
  // A record we cannot read names nothing we could act on.
  const bool settled = !decode(bytes, replacement) || settleOnServer(server, replacement);
  if (settled) (void)local.deleteFile(std::string(kJournalName));
  return settled;
}

}  // namespace tandrel
