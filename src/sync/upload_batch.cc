#include "sync/upload_batch.h"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace tandrel {

namespace {

constexpr int kListingAttempts = 10;

using Found = std::vector<std::optional<ListRecord>>;

// Looks `names` up in the server's current directory: one by one where that
// costs less than a listing, and what a look-up could not find (some servers
// answer look-ups of unusual names differently from their listings) in up to
// ten listings.
Found lookUpAll(ServerSide& server, const std::vector<const std::string*>& names) {
  Found found(names.size());
  if (names.size() <= server.lookUpsPerListing()) {
    for (size_t i = 0; i < names.size(); ++i) {
      ListRecord record;
      if (server.lookUp(*names[i], record).ok()) found[i] = std::move(record);
    }
  }
  auto missing = [&] { return std::count(found.begin(), found.end(), std::nullopt) > 0; };
  for (int attempt = 0; attempt < kListingAttempts && missing(); ++attempt) {
    std::vector<ListRecord> records;
    if (!server.list(records).ok()) continue;
    std::unordered_map<std::string, const ListRecord*> byName;
    byName.reserve(records.size());
    for (const ListRecord& record : records) {
      if (record.kind != RecordKind::unreadable) byName.emplace(record.name, &record);
    }
    for (size_t i = 0; i < names.size(); ++i) {
      auto at = byName.find(*names[i]);
      if (!found[i] && at != byName.end()) found[i] = *at->second;
    }
  }
  return found;
}

// An upload found wanting afterwards: reported and recorded as failed, like
// one that failed at once.
void failUpload(Run& run, Entry* target, Entry* source, Entry* placeholder,
                const std::string& reason) {
  run.report.error(Status::refused(reason), "Error: Can't update server file '%s'",
                   target->name.c_str());
  commitEntry(target, false);
  commitEntry(source, false);
  commitEntry(placeholder, false);
}

}  // namespace

void forgetServerCopy(Entry& target) {
  target.state = EntryState::Dropped;
  target.touched = true;
}

void UploadBatch::add(Entry* target, Entry* source, int64_t sent) {
  uploads_.push_back({target, source, nullptr, sent});
}

void UploadBatch::setPlaceholderOfLast(Entry* placeholder) {
  uploads_.back().placeholder = placeholder;
}

void UploadBatch::complete(Run& run) {
  std::vector<Upload> waiting;
  waiting.swap(uploads_);
  std::vector<const std::string*> names;
  for (const Upload& upload : waiting) names.push_back(&upload.target->name);
  const Found found = lookUpAll(run.server, names);
  for (size_t i = 0; i < waiting.size(); ++i) {
    const Upload& upload = waiting[i];
    if (!found[i]) {
      // Some servers change a name they do not like (a trailing space) and
      // say nothing: the file the user has is not on the server.
      failUpload(run, upload.target, upload.source, upload.placeholder,
                 "The server stored the file under another name, or not at all");
      forgetServerCopy(*upload.target);
      continue;
    }
    upload.target->setTimeFrom(*found[i]);
    if (found[i]->size >= 0 && found[i]->size != upload.sent) {
      failUpload(run, upload.target, upload.source, upload.placeholder,
                 "The server kept " + std::to_string(found[i]->size) + " of the " +
                     std::to_string(upload.sent) + " bytes sent");
      // The short copy is recorded as it is, so that the next run sees the
      // local file as the only change and copies it again, whichever side
      // wins conflicts.
      upload.target->state = EntryState::Unchanged;
      upload.target->touched = true;
      if (upload.placeholder) forgetServerCopy(*upload.placeholder);
      continue;
    }
    upload.source->writeTime = upload.source->listedTime;
  }
}

}  // namespace tandrel
