#include "storage/transfer.h"

#include <ctime>
#include <string>

#include "storage/file_time.h"
#include "storage/reserved_names.h"
#include "storage/transfer_watch.h"

namespace tandrel {

namespace {

constexpr char kChanged[] = "The file changed while it was copied\n";

// Reports one transfer to the server side's watch, from start to end.
class WatchedTransfer {
 public:
  WatchedTransfer(ServerSide& server, int64_t knownTotal)
      : watch_(server.transferWatch()), server_(server) {
    watch_.started(knownTotal);
    server_.setProgressObserver(
        [this](int64_t done, int64_t total) { watch_.progress(done, total); });
  }
  ~WatchedTransfer() {
    server_.setProgressObserver(nullptr);
    watch_.finished();
  }
  WatchedTransfer(const WatchedTransfer&) = delete;
  WatchedTransfer& operator=(const WatchedTransfer&) = delete;

 private:
  TransferWatch& watch_;
  ServerSide& server_;
};

// Reads a local file for an upload and, at its end, checks that the file is
// still the one the listing showed: a file written to while it was read would
// otherwise be recorded with a time its copy does not have. The check comes
// before the end of the data is reported, so the server never renames a copy
// that failed it into place.
class CheckedSource : public ByteSource {
 public:
  CheckedSource(LocalSide& local, ByteSource& inner, const std::string& name,
                const ListedSource& listed)
      : local_(local), inner_(inner), name_(name), listed_(listed) {}

  Status read(char* buffer, size_t capacity, size_t& got) override {
    got = 0;
    if (checked_) return Status::OK();
    Status status = inner_.read(buffer, capacity, got);
    if (!status.ok() || got > 0) {
      read_ += static_cast<int64_t>(got);
      return status;
    }
    ListRecord now;
    if (!local_.lookUp(name_, now).ok() || now.writeTime != listed_.writeTime ||
        now.size != read_ || (listed_.size >= 0 && read_ != listed_.size)) {
      return Status::system(kChanged);
    }
    checked_ = true;
    return Status::OK();
  }

 private:
  LocalSide& local_;
  ByteSource& inner_;
  const std::string& name_;
  ListedSource listed_;
  int64_t read_ = 0;
  bool checked_ = false;
};

}  // namespace

Status getFile(LocalSide& local, ServerSide& server, const std::string& name,
               const ListedSource& listed) {
  std::unique_ptr<ByteSink> sink;
  if (Status created = local.createTemporary(sink); !created.ok()) return created;
  int64_t received = 0;
  ListRecord after;
  Status status;
  {
    WatchedTransfer watched(server, listed.size);
    status = server.download(name, *sink, received, after);
  }
  sink.reset();
  // A size the listing did not give is not checked; a server link's listed
  // size is that of the link, not of the file.
  // The time is checked only where the server gave one after the transfer,
  // at the precision both times share.
  const bool changed =
      (listed.size >= 0 && received != listed.size) ||
      (!after.name.empty() &&
       ((after.timeShown != TimeShown::none && !sameWriteTime(after.writeTime, listed.writeTime)) ||
        (after.size >= 0 && after.size != received)));
  if (status.ok() && changed) status = Status::system(kChanged);
  if (!status.ok()) {
    local.discardTemporary();
    return status;
  }
  return local.commitTemporary(name);
}

Status putFile(LocalSide& local, ServerSide& server, const std::string& name,
               const ListedSource& listed, int64_t& sent, bool& targetGone) {
  sent = 0;
  targetGone = false;
  int64_t size = -1;
  std::unique_ptr<ByteSource> file;
  if (Status opened = local.openForReading(name, file, size); !opened.ok()) return opened;
  CheckedSource source(local, *file, name, listed);
  Status status;
  {
    WatchedTransfer watched(server, size);
    status = server.upload(source, name, sent);
  }
  if (!status.ok() && !server.transferWatch().cancelled()) {
    // Without its old copy the server's entry must not pass for one the user
    // deleted there.
    ListRecord record;
    targetGone = server.lookUp(name, record).isNotFound();
  }
  return status;
}

void removeAbandonedTemporaries(Side& side, const std::vector<ListRecord>& records) {
  const FileTime now = fileTimeFromUnix(static_cast<int64_t>(std::time(nullptr)));
  for (const ListRecord& record : records) {
    if (isAbandonedTemporary(record, now)) (void)side.deleteFile(record.name);
  }
}

}  // namespace tandrel
