// Fault injection under the storage operations: wrappers that forward every call
// to a real side and make chosen calls fail, counting how often each fault fired.
// A typical test arms one fault, acts, and checks the outcome and the count.
#pragma once

#include <memory>
#include <string>

#include "storage/local_side.h"
#include "storage/server_side.h"

namespace tandrel::testing {

struct Fault {
  bool armed = false;
  std::string name;   // only calls with this name fail; empty: any name
  int letThrough = 0; // matching calls that succeed before the first failure
  int times = 1;      // how many failures once it starts; -1: every call after
  Status failure = Status::system("Injected failure");  // what a failing call returns
  int fired = 0;

  void arm(std::string onName = "", int after = 0, int count = 1) {
    armed = true;
    name = std::move(onName);
    letThrough = after;
    times = count;
    fired = 0;
  }
  // True when this call must fail (and then returns `failure`).
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

  Status changeDirectory(const std::string& name) override;
  Status list(std::vector<ListRecord>& records) override;
  Status lookUp(const std::string& name, ListRecord& record) override;
  Status deleteFile(const std::string& name) override;
  Status createDirectory(const std::string& name) override;
  Status removeDirectory(const std::string& name) override;
  Status readFile(const std::string& name, std::string& bytes) override;
  Status replaceFile(const std::string& name, const std::string& bytes) override;
  Status openForReading(const std::string& name, std::unique_ptr<ByteSource>& source,
                        int64_t& size) override;
  Status createTemporary(std::unique_ptr<ByteSink>& sink) override;
  Status commitTemporary(const std::string& name) override;
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

  Status connect(const LogIn& logIn) override { return real_.connect(logIn); }
  void disconnect() override { real_.disconnect(); }
  Status changeDirectory(const std::string& name) override;
  std::string currentDirectory() const override { return real_.currentDirectory(); }
  Status list(std::vector<ListRecord>& records) override;
  Status lookUp(const std::string& name, ListRecord& record) override {
    return real_.lookUp(name, record);
  }
  Status deleteFile(const std::string& name) override;
  Status renameFile(const std::string& from, const std::string& to) override {
    return real_.renameFile(from, to);
  }
  Status createDirectory(const std::string& name) override;
  Status removeDirectory(const std::string& name) override;
  void setReplacementJournal(ReplacementJournal* journal) override {
    real_.setReplacementJournal(journal);
  }
  void setTransferWatch(TransferWatch* watch) override { real_.setTransferWatch(watch); }
  TransferWatch& transferWatch() override { return real_.transferWatch(); }
  Status download(const std::string& name, ByteSink& sink, int64_t& received,
                  ListRecord& after) override;
  Status upload(ByteSource& source, const std::string& name, int64_t& sent) override;
  size_t lookUpsPerListing() const override { return real_.lookUpsPerListing(); }

 private:
  ServerSide& real_;
};

}  // namespace tandrel::testing
