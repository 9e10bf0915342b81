#include "storage/replacement_journal.h"

#include <string_view>

#include "storage/failure.h"
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
  if (server.lookUp(name, record)) return Presence::present;
  return lastFailure().kind == FailureKind::notFound ? Presence::absent : Presence::unknown;
}

bool removeIfPresent(ServerSide& server, const std::string& name) {
  const Presence there = presence(server, name);
  if (there == Presence::absent) return true;
  return there == Presence::present && server.deleteFile(name);
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
    return server.renameFile(r.aside, r.name) && removeIfPresent(server, r.temporary);
  }
  const Presence fresh = presence(server, r.temporary);
  if (fresh == Presence::unknown) return false;
  return fresh == Presence::absent || server.renameFile(r.temporary, r.name);
}

}  // namespace

bool LocalReplacementJournal::begin(const Replacement& replacement) {
  return local_.replaceFile(std::string(kJournalName), encode(replacement));
}

void LocalReplacementJournal::end() {
  const Failure failure = lastFailure();
  local_.deleteFile(std::string(kJournalName));
  recordFailure(failure.kind, failure.text);
}

bool LocalReplacementJournal::settle() { return settleReplacement(local_, server_); }

bool settleReplacement(LocalSide& local, ServerSide& server) {
  const Failure failure = lastFailure();
  std::string bytes;
  bool settled = true;
  if (!local.readFile(std::string(kJournalName), bytes)) {
    settled = lastFailure().kind == FailureKind::notFound;
  } else {
    Replacement replacement;
    // A record we cannot read names nothing we could act on.
    settled = !decode(bytes, replacement) || settleOnServer(server, replacement);
    if (settled) local.deleteFile(std::string(kJournalName));
  }
  recordFailure(failure.kind, failure.text);
  return settled;
}

}  // namespace tandrel
