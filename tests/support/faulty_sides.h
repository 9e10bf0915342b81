// Fault injection under the storage operations: wrappers that forward every call
// to a real side and make chosen calls fail, counting how often each fault fired.
// A typical test arms one fault, acts, and checks the outcome and the count.
#pragma once

#include <memory>
#include <string>

#include "storage/failure.h"
#include "storage/local_side.h"
#include "storage/server_side.h"

namespace tandrel::testing {

struct Fault {
  bool armed = false;
  std::string name;   // only calls with this name fail; empty: any name
  int letThrough = 0; // matching calls that succeed before the first failure
  int times = 1;      // how many failures once it starts; -1: every call after
  FailureKind kind = FailureKind::system;
  std::string text = "Injected failure";
  int fired = 0;

  void arm(std::string onName = "", int after = 0, int count = 1) {
    armed = true;
    name = std::move(onName);
    letThrough = after;
    times = count;
    fired = 0;
  }
  // True when this call must fail; records the failure.
  bool hits(const std::string& callName);
};

class FaultyLocalSide : public LocalSide {
 public:
  explicit FaultyLocalSide(LocalSide& real) : real_(real) {}

  Fault changeDirectoryFault;  // matches the directory name ("..": returns)
  Fault listFault;
  Fault deleteFault;
  Fault removeDirectoryFault;
  Fault replaceFileFault;
  Fault readFileFault;
  // A download's temporary file accepts this many bytes, then a write fails.
  Fault shortWriteFault;
  int64_t shortWriteAfterBytes = 0;

  bool changeDirectory(const std::string& name) override;
  bool list(std::vector<ListRecord>& records) override;
  bool lookUp(const std::string& name, ListRecord& record) override;
  bool deleteFile(const std::string& name) override;
  bool createDirectory(const std::string& name) override;
  bool removeDirectory(const std::string& name) override;
  bool readFile(const std::string& name, std::string& bytes) override;
  bool replaceFile(const std::string& name, const std::string& bytes) override;
  std::unique_ptr<ByteSource> openForReading(const std::string& name, int64_t& size) override;
  std::unique_ptr<ByteSink> createTemporary() override;
  bool commitTemporary(const std::string& name) override;
  void discardTemporary() override;
  bool directoryLiesWithin(const std::string& name, uint64_t device, uint64_t inode) override {
    return real_.directoryLiesWithin(name, device, inode);
  }

 private:
  LocalSide& real_;
};

class FaultyServerSide : public ServerSide {
 public:
  explicit FaultyServerSide(ServerSide& real) : real_(real) {}

  Fault changeDirectoryFault;
  Fault listFault;
  Fault deleteFault;
  Fault removeDirectoryFault;
  Fault createDirectoryFault;
  // The download breaks after this many bytes reached the sink.
  Fault brokenDownloadFault;
  int64_t brokenDownloadAfterBytes = 0;
  Fault uploadFault;

  bool connect(const LogIn& logIn) override { return real_.connect(logIn); }
  void disconnect() override { real_.disconnect(); }
  bool changeDirectory(const std::string& name) override;
  std::string currentDirectory() const override { return real_.currentDirectory(); }
  bool list(std::vector<ListRecord>& records) override;
  bool lookUp(const std::string& name, ListRecord& record) override {
    return real_.lookUp(name, record);
  }
  bool deleteFile(const std::string& name) override;
  bool renameFile(const std::string& from, const std::string& to) override {
    return real_.renameFile(from, to);
  }
  bool createDirectory(const std::string& name) override;
  bool removeDirectory(const std::string& name) override;
  void setReplacementJournal(ReplacementJournal* journal) override {
    real_.setReplacementJournal(journal);
  }
  void setTransferWatch(TransferWatch* watch) override { real_.setTransferWatch(watch); }
  TransferWatch& transferWatch() override { return real_.transferWatch(); }
  bool download(const std::string& name, ByteSink& sink, int64_t& received,
                ListRecord& after) override;
  bool upload(ByteSource& source, const std::string& name, int64_t& sent) override;
  size_t lookUpsPerListing() const override { return real_.lookUpsPerListing(); }

 private:
  ServerSide& real_;
};

}  // namespace tandrel::testing
