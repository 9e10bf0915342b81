// The FTP server side over libcurl.
//
// One easy handle makes every request, driven through a multi handle (a plain
// curl_easy_perform stalls for about a second on some passive transfers) whose
// connection cache holds the run's one control connection. libcurl never
// changes directory for us (NOCWD) and every target is named by absolute path,
// so that a connection the server dropped while idle can be replaced silently
// and the run carries on in the directory it was in.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/server_side.h"

namespace tandrel {

// The transport and the tracked state of the one connection.
class CurlConnection;

class CurlServerSide : public ServerSide {
 public:
  CurlServerSide();
  ~CurlServerSide() override;
  CurlServerSide(const CurlServerSide&) = delete;
  CurlServerSide& operator=(const CurlServerSide&) = delete;

  Status connect(const LogIn& logIn) override;
  void disconnect() override;

  Status changeDirectory(const std::string& name) override;
  Status logInDirectoryKnown() override;
  Status enterStartDirectory(const std::string& path, Status& location) override;
  std::string currentDirectory() const override;

  Status list(std::vector<ListRecord>& records) override;
  Status lookUp(const std::string& name, ListRecord& record) override;

  Status deleteFile(const std::string& name) override;
  Status renameFile(const std::string& from, const std::string& to) override;
  bool removeIfLink(const std::string& name) override;
  Status createDirectory(const std::string& name) override;
  Status removeDirectory(const std::string& name) override;

  Status download(const std::string& name, ByteSink& sink, int64_t& received,
                  ListRecord& after) override;
  Status upload(ByteSource& source, const std::string& name, int64_t& sent) override;
  size_t lookUpsPerListing() const override;

  // True when the server announced MLST in its FEAT reply at connect: listings
  // then use MLSD (UTC, seconds) and look-ups MLST; otherwise "LIST -a" and STAT.
  bool supportsMlst() const;

  // Called from inside downloads and uploads, about once a second and at every
  // block, with the bytes moved so far and the total (0 when libcurl does not
  // know it). It must return quickly; an empty function turns it off.
  void setProgressObserver(std::function<void(int64_t done, int64_t total)> observer) override;
  void setReplacementJournal(ReplacementJournal* journal) override { journal_ = journal; }
  void setTransferWatch(TransferWatch* watch) override;
  TransferWatch& transferWatch() override;

 private:
  // Fills in what a listing line of the current directory left open: whether a
  // link is a directory, and a time the listing did not give.
  void completeRecord(ListRecord& record);
  bool isDirectoryLink(const std::string& path);
  // Where the server lists over the control connection, enters `target` by
  // listing it there: a listing that shows the directory itself proves that
  // it can be entered, and is kept for the list() that follows. False where
  // that proves nothing: the caller changes into it.
  bool enterByListing(const std::string& target);
  // Whether the directory `record` at `path` is the current directory or one
  // above it, by its unique fact or by where the server said its link leads.
  bool leadsBack(const ListRecord& record, const std::string& path);
  // Keeps the unique facts of a listing's directories (and of the current
  // directory) for leadsBack.
  void rememberUniques(const std::vector<ListRecord>& records);
  Status lookUpByMlst(const std::string& name, const std::string& path, ListRecord& record);
  // The second half of an upload whose rename onto `name` was refused: the
  // old copy is moved aside first. `refusal` is the rename's.
  Status replaceThroughAside(const std::string& name, const Status& refusal);

  std::unique_ptr<CurlConnection> connection_;
  ReplacementJournal* journal_ = nullptr;
};

}  // namespace tandrel
