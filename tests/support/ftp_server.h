// Real FTP servers on loopback for the end-to-end and storage tests.
//
// Each FtpServer is a server process of its own, started in the constructor on
// a free port of 127.0.0.1 and stopped in the destructor by its process group
// (SIGTERM, then SIGKILL), so a failing test never leaves a server behind. The
// user is rooted at a fresh, empty, writable directory in a temporary directory
// of the server's own, which the destructor removes.
//
// pyftpdlib (/usr/bin/python3 with Debian's python3-pyftpdlib, which offers
// MLSD/MLST): runs tests/support/pyftpd_server.py. The user's directory is the
// server's virtual "/", so server paths are virtual ("/", "/sub").
//
// vsftpd (/usr/sbin/vsftpd, LIST only; needs root): runs in the foreground with
// a config file of the test's own. The log-in user is the local system user
// "tandrelftp" (created with useradd on first use, home "/", shell from /etc/shells,
// password set with chpasswd, authenticated through PAM service "vsftpd").
// There is no chroot: local_root is the root directory, so server paths are
// the real absolute paths (root() is also the log-in directory the server
// reports). The root directory is owned by that user; files the server creates
// belong to it. delay_failed_login is 0 so a wrong password fails in about 2 s
// (PAM's own delay) instead of 3 s.
//
// pure-ftpd and proftpd (needs root) conflict with vsftpd as Debian packages:
// they run unpacked from folders of their own (fetched with apt-get download
// when missing), in the foreground, with a password file of the server's own
// whose one user has the uid and gid of "tandrelftp"; neither chroots, so
// their paths are real ones as with vsftpd. proftpd offers MLSD/MLST with UTC
// times and logs every command with its reply.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "support/temp_tree.h"

namespace tandrel::testing {

enum class ServerKind { pyftpdlib, vsftpd, pureftpd, proftpd };

// none: plain FTP. explicit_: AUTH TLS on the normal port (the tool's
// "ftpes://"). implicit: TLS from the first byte (the tool's "ftps://").
enum class TlsMode { none, explicit_, implicit };

struct ServerOptions {
  // Seconds a control connection may idle before the server drops it with 421;
  // 0 keeps the server's default. pure-ftpd rounds up to whole minutes.
  int idleTimeoutSeconds = 0;
  // pyftpdlib: decode names with surrogateescape so 8-bit (non-UTF-8) name
  // bytes reach the disk and the listings unchanged. The others always pass bytes.
  bool utf8PassThrough = true;
  TlsMode tls = TlsMode::none;
  // Bytes per second that one data connection may move, in both directions,
  // so that a transfer of a few MiB lasts seconds; 0 for no limit. pure-ftpd
  // counts in KiB/s.
  long bytesPerSecond = 0;
  // pyftpdlib with TLS only: keep pyftpdlib 1.5.7's own way of dropping a data
  // connection whose TLS handshake begins before the transfer command, which
  // is when libcurl begins it, so that every data connection fails (a real
  // server's fault to test against). By default the test server lets the
  // handshake in.
  bool dropEarlyDataHandshakes = false;
  // pyftpdlib only: a JSON file of faults to inject, read again whenever it
  // changes (its format is in pyftpd_server.py), so a test can arm a fault
  // between runs; empty for none. The file need not exist yet.
  std::string faultsFile = {};
  // pyftpdlib only: a thread per connection, so that one client's slow reply
  // does not hold up another client.
  bool threaded = false;
};

class FtpServer {
 public:
  explicit FtpServer(ServerKind kind, ServerOptions options = {});
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  // True when the server accepted a connection on port() within the start-up
  // time. When false, startError() says why.
  bool started() const { return pid_ > 0; }
  const std::string& startError() const { return startError_; }
  int port() const { return port_; }
  // Absolute local path of the user's log-in directory; empty and writable.
  const std::string& root() const { return root_; }
  // "127.0.0.1:PORT", as the tool's -h takes it; with TLS "ftpes://127.0.0.1:PORT"
  // (explicit) or "ftps://127.0.0.1:PORT" (implicit).
  std::string hostArgument() const;
  // The PEM file of the CA that signed the server's certificate (for the tool's
  // SSL_CERT_FILE); empty without TLS.
  const std::string& caFile() const { return caFile_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  ServerKind kind() const { return kind_; }
  // "pyftpdlib", "vsftpd", "pureftpd" or "proftpd", for test names and messages.
  std::string name() const;
  // What the server printed so far (pyftpdlib logs every command).
  std::string log() const;
  // Makes a local path inside root() owned by the server's user, so that the
  // server may change what a test put there (vsftpd and pure-ftpd; a no-op for
  // pyftpdlib, which runs as the test's user).
  void giveToServerUser(const std::string& path) const;
  // The server's root, or the directory `relative` below it, as a Tree whose
  // new files and directories belong to the server's user, so the server can
  // overwrite and delete what a test put there.
  Tree tree() const;
  Tree tree(const std::string& relative) const;

 private:
  bool startOnce();
  void stop();
  bool runsAsSystemUser() const { return kind_ != ServerKind::pyftpdlib; }
  bool makeCertificates();
  std::string passwordHash();
  bool makePureFtpdUsers();
  bool makeProftpdUsers();
  std::vector<std::string> proftpdCommand();
  std::vector<std::string> vsftpdCommand();
  std::vector<std::string> pureFtpdCommand() const;

  ServerKind kind_;
  ServerOptions options_;
  std::string baseDir_;  // temporary directory holding root/, config and log
  std::string root_;
  std::string user_;
  std::string password_;
  std::string startError_;
  std::string caFile_;
  std::string certificateFile_;  // the server's certificate
  std::string keyFile_;          // and its private key
  int port_ = 0;
  pid_t pid_ = -1;
};

std::string serverKindName(ServerKind kind);
// Every kind, for INSTANTIATE_TEST_SUITE_P.
std::vector<ServerKind> allServerKinds();
// Whether the kind can serve FTP over TLS in that mode (pyftpdlib and pure-ftpd,
// as Debian builds them, have no implicit TLS).
bool supportsTls(ServerKind kind, TlsMode mode);
// Where pure-ftpd's (proftpd's) binary is unpacked; it is fetched there when
// missing. False, with the reason in `error`, when that fails.
bool ensurePureFtpd(std::string& error);
bool ensureProftpd(std::string& error);
// A port on 127.0.0.1 that nothing listened on a moment ago.
int freeLoopbackPort();

}  // namespace tandrel::testing
