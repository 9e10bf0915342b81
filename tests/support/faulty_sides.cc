#include "support/faulty_sides.h"

#include <algorithm>

namespace tandrel::testing {

bool Fault::hits(const std::string& callName) {
  if (!armed || (!name.empty() && name != callName)) return false;
  if (letThrough > 0) {
    --letThrough;
    return false;
  }
  if (times == 0) return false;
  if (times > 0) --times;
  ++fired;
  return true;
}

namespace {

// Passes at most `budget` bytes on, then fails like a full disk.
class LimitedSink : public ByteSink {
 public:
  LimitedSink(std::unique_ptr<ByteSink> inner, int64_t budget, Fault* fault)
      : inner_(std::move(inner)), budget_(budget), fault_(fault) {}
  Status write(const char* data, size_t length) override {
    if (fault_ && static_cast<int64_t>(length) > budget_) {
      size_t part = static_cast<size_t>(std::max<int64_t>(budget_, 0));
      if (part > 0) (void)inner_->write(data, part);
      budget_ = 0;
      fault_->hits("");
      return fault_->failure;
    }
    budget_ -= static_cast<int64_t>(length);
    return inner_->write(data, length);
  }

 private:
  std::unique_ptr<ByteSink> inner_;
  int64_t budget_;
  Fault* fault_;
};

// Forwards to a sink it does not own, breaking after `budget` bytes.
class BreakingSink : public ByteSink {
 public:
  BreakingSink(ByteSink& inner, int64_t budget, Fault& fault)
      : inner_(inner), budget_(budget), fault_(fault) {}
  Status write(const char* data, size_t length) override {
    if (static_cast<int64_t>(length) > budget_) {
      size_t part = static_cast<size_t>(std::max<int64_t>(budget_, 0));
      if (part > 0) (void)inner_.write(data, part);
      budget_ = 0;
      broken = true;
      return fault_.failure;
    }
    budget_ -= static_cast<int64_t>(length);
    return inner_.write(data, length);
  }
  bool broken = false;

 private:
  ByteSink& inner_;
  int64_t budget_;
  Fault& fault_;
};

}  // namespace

Status FaultyLocalSide::changeDirectory(const std::string& name) {
  if (changeDirectoryFault.hits(name)) return changeDirectoryFault.failure;
  return real_.changeDirectory(name);
}
Status FaultyLocalSide::list(std::vector<ListRecord>& records) {
  if (listFault.hits("")) return listFault.failure;
  return real_.list(records);
}
Status FaultyLocalSide::lookUp(const std::string& name, ListRecord& record) {
  return real_.lookUp(name, record);
}
Status FaultyLocalSide::deleteFile(const std::string& name) {
  if (deleteFault.hits(name)) return deleteFault.failure;
  return real_.deleteFile(name);
}
Status FaultyLocalSide::createDirectory(const std::string& name) {
  return real_.createDirectory(name);
}
Status FaultyLocalSide::removeDirectory(const std::string& name) {
  if (removeDirectoryFault.hits(name)) return removeDirectoryFault.failure;
  return real_.removeDirectory(name);
}
Status FaultyLocalSide::readFile(const std::string& name, std::string& bytes) {
  if (readFileFault.hits(name)) return readFileFault.failure;
  return real_.readFile(name, bytes);
}
Status FaultyLocalSide::replaceFile(const std::string& name, const std::string& bytes) {
  if (replaceFileFault.hits(name)) return replaceFileFault.failure;
  return real_.replaceFile(name, bytes);
}
Status FaultyLocalSide::openForReading(const std::string& name, std::unique_ptr<ByteSource>& source,
                                       int64_t& size) {
  return real_.openForReading(name, source, size);
}
Status FaultyLocalSide::createTemporary(std::unique_ptr<ByteSink>& sink) {
  Status created = real_.createTemporary(sink);
  if (!created.ok() || !shortWriteFault.armed) return created;
  sink = std::make_unique<LimitedSink>(std::move(sink), shortWriteAfterBytes, &shortWriteFault);
  return created;
}
Status FaultyLocalSide::commitTemporary(const std::string& name) {
  return real_.commitTemporary(name);
}
void FaultyLocalSide::discardTemporary() { real_.discardTemporary(); }

Status FaultyServerSide::changeDirectory(const std::string& name) {
  if (changeDirectoryFault.hits(name)) return changeDirectoryFault.failure;
  return real_.changeDirectory(name);
}
Status FaultyServerSide::list(std::vector<ListRecord>& records) {
  if (listFault.hits("")) return listFault.failure;
  return real_.list(records);
}
Status FaultyServerSide::deleteFile(const std::string& name) {
  if (deleteFault.hits(name)) return deleteFault.failure;
  return real_.deleteFile(name);
}
Status FaultyServerSide::createDirectory(const std::string& name) {
  if (createDirectoryFault.hits(name)) return createDirectoryFault.failure;
  return real_.createDirectory(name);
}
Status FaultyServerSide::removeDirectory(const std::string& name) {
  if (removeDirectoryFault.hits(name)) return removeDirectoryFault.failure;
  return real_.removeDirectory(name);
}
Status FaultyServerSide::download(const std::string& name, ByteSink& sink, int64_t& received,
                                  ListRecord& after) {
  if (!brokenDownloadFault.armed) return real_.download(name, sink, received, after);
  BreakingSink breaking(sink, brokenDownloadAfterBytes, brokenDownloadFault);
  Status status = real_.download(name, breaking, received, after);
  if (breaking.broken && brokenDownloadFault.hits(name)) return brokenDownloadFault.failure;
  return status;
}
Status FaultyServerSide::upload(ByteSource& source, const std::string& name, int64_t& sent) {
  if (uploadFault.hits(name)) return uploadFault.failure;
  return real_.upload(source, name, sent);
}

}  // namespace tandrel::testing
