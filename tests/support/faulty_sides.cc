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
  recordFailure(kind, text);
  return true;
}

namespace {

// Passes at most `budget` bytes on, then fails like a full disk.
class LimitedSink : public ByteSink {
 public:
  LimitedSink(std::unique_ptr<ByteSink> inner, int64_t budget, Fault* fault)
      : inner_(std::move(inner)), budget_(budget), fault_(fault) {}
  bool write(const char* data, size_t length) override {
    if (fault_ && static_cast<int64_t>(length) > budget_) {
      size_t part = static_cast<size_t>(std::max<int64_t>(budget_, 0));
      if (part > 0) inner_->write(data, part);
      budget_ = 0;
      fault_->hits("");
      return false;
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
  bool write(const char* data, size_t length) override {
    if (static_cast<int64_t>(length) > budget_) {
      size_t part = static_cast<size_t>(std::max<int64_t>(budget_, 0));
      if (part > 0) inner_.write(data, part);
      budget_ = 0;
      broken = true;
      return false;
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

bool FaultyLocalSide::changeDirectory(const std::string& name) {
  return !changeDirectoryFault.hits(name) && real_.changeDirectory(name);
}
bool FaultyLocalSide::list(std::vector<ListRecord>& records) {
  return !listFault.hits("") && real_.list(records);
}
bool FaultyLocalSide::lookUp(const std::string& name, ListRecord& record) {
  return real_.lookUp(name, record);
}
bool FaultyLocalSide::deleteFile(const std::string& name) {
  return !deleteFault.hits(name) && real_.deleteFile(name);
}
bool FaultyLocalSide::createDirectory(const std::string& name) {
  return real_.createDirectory(name);
}
bool FaultyLocalSide::removeDirectory(const std::string& name) {
  return !removeDirectoryFault.hits(name) && real_.removeDirectory(name);
}
bool FaultyLocalSide::readFile(const std::string& name, std::string& bytes) {
  return !readFileFault.hits(name) && real_.readFile(name, bytes);
}
bool FaultyLocalSide::replaceFile(const std::string& name, const std::string& bytes) {
  return !replaceFileFault.hits(name) && real_.replaceFile(name, bytes);
}
std::unique_ptr<ByteSource> FaultyLocalSide::openForReading(const std::string& name,
                                                            int64_t& size) {
  return real_.openForReading(name, size);
}
std::unique_ptr<ByteSink> FaultyLocalSide::createTemporary() {
  std::unique_ptr<ByteSink> sink = real_.createTemporary();
  if (!sink || !shortWriteFault.armed) return sink;
  return std::make_unique<LimitedSink>(std::move(sink), shortWriteAfterBytes, &shortWriteFault);
}
bool FaultyLocalSide::commitTemporary(const std::string& name) {
  return real_.commitTemporary(name);
}
void FaultyLocalSide::discardTemporary() { real_.discardTemporary(); }

bool FaultyServerSide::changeDirectory(const std::string& name) {
  return !changeDirectoryFault.hits(name) && real_.changeDirectory(name);
}
bool FaultyServerSide::list(std::vector<ListRecord>& records) {
  return !listFault.hits("") && real_.list(records);
}
bool FaultyServerSide::deleteFile(const std::string& name) {
  return !deleteFault.hits(name) && real_.deleteFile(name);
}
bool FaultyServerSide::createDirectory(const std::string& name) {
  return !createDirectoryFault.hits(name) && real_.createDirectory(name);
}
bool FaultyServerSide::removeDirectory(const std::string& name) {
  return !removeDirectoryFault.hits(name) && real_.removeDirectory(name);
}
bool FaultyServerSide::download(const std::string& name, ByteSink& sink, int64_t& received,
                                ListRecord& after) {
  if (!brokenDownloadFault.armed) return real_.download(name, sink, received, after);
  BreakingSink breaking(sink, brokenDownloadAfterBytes, brokenDownloadFault);
  bool ok = real_.download(name, breaking, received, after);
  if (breaking.broken && brokenDownloadFault.hits(name)) return false;
  return ok;
}
bool FaultyServerSide::upload(ByteSource& source, const std::string& name, int64_t& sent) {
  return !uploadFault.hits(name) && real_.upload(source, name, sent);
}

}  // namespace tandrel::testing
