#include "support/ftp_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef TANDREL_SOURCE_DIR
#error "TANDREL_SOURCE_DIR must name the source tree"
#endif

namespace tandrel::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kVsftpd = "/usr/sbin/vsftpd";
constexpr const char* kSystemUser = "tandrelftp";
constexpr const char* kPassword = "Tandrel-Test-1";
constexpr const char* kOpenssl = "/usr/bin/openssl";
// pure-ftpd conflicts with vsftpd as a Debian package: it lives unpacked here,
// or where TANDREL_PURE_FTPD_DIR says (the same variable as in scripts/lib.sh).
constexpr const char* kPureFtpdFolder = "/var/cache/tandrel-test/pure-ftpd";
constexpr const char* kPureFtpdLock = "/tmp/tandrel-pure-ftpd.lock";
// proftpd-core conflicts likewise; it needs libraries of its own beside it.
constexpr const char* kProftpdFolder = "/var/cache/tandrel-test/proftpd";
constexpr const char* kProftpdLock = "/tmp/tandrel-proftpd.lock";

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool writeWholeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

// Runs a command with the given standard input, in `directory` when that is
// not empty; true when it exited with 0. Its standard output goes to `output`
// when given, else to /dev/null; its standard error to `errors` when given.
bool runCommand(const std::vector<std::string>& argv, const std::string& input,
                std::string* output = nullptr, const std::string& directory = "",
                std::string* errors = nullptr) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0) return false;
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    return false;
  }
  if (pipe(err) != 0) {
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    return false;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    return false;
  }
  if (pid == 0) {
    dup2(in[0], 0);
    if (output) {
      dup2(out[1], 1);
    } else {
      int devnull = open("/dev/null", O_WRONLY);
      if (devnull >= 0) dup2(devnull, 1);
    }
    if (errors) dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  ssize_t ignored = write(in[1], input.data(), input.size());
  (void)ignored;
  close(in[1]);
  // Both pipes are read together so that neither can fill up and block the child.
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int openPipes = 2;
  while (openPipes > 0) {
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        std::string* into = i == 0 ? output : errors;
        if (into) into->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --openPipes;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string loginShell() {
  std::string shells = readWholeFile("/etc/shells");
  for (const char* candidate : {"/bin/bash", "/bin/sh", "/usr/bin/bash"}) {
    std::istringstream lines(shells);
    std::string line;
    while (std::getline(lines, line))
      if (line == candidate) return candidate;
  }
  return "/bin/sh";
}

// Creates the vsftpd log-in user once per machine and sets its password once
// per process. Tests run in parallel processes, so both steps hold a lock file.
bool ensureSystemUser(std::string& error) {
  static bool done = false;
  if (done) return true;
  int lock = open("/tmp/tandrel-ftp-user.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  if (lock < 0 || flock(lock, LOCK_EX) != 0) {
    error = "can't lock /tmp/tandrel-ftp-user.lock";
    if (lock >= 0) close(lock);
    return false;
  }
  bool ok = true;
  // vsftpd enters the home directory before local_root, so it must exist.
  const passwd* account = getpwnam(kSystemUser);
  if (account == nullptr) {
    ok = runCommand({"/usr/sbin/useradd", "-M", "-d", "/", "-s", loginShell(), kSystemUser}, "");
    if (!ok) error = "useradd failed";
  } else if (!fs::is_directory(account->pw_dir)) {
    ok = runCommand({"/usr/sbin/usermod", "-d", "/", kSystemUser}, "");
    if (!ok) error = "usermod failed";
  }
  if (ok) {
    ok = runCommand({"/usr/sbin/chpasswd"}, std::string(kSystemUser) + ":" + kPassword + "\n");
    if (!ok) error = "chpasswd failed";
  }
  flock(lock, LOCK_UN);
  close(lock);
  done = ok;
  return ok;
}

// True when something accepts connections on the port and, unless the server
// speaks TLS from the first byte, greets with 220.
bool acceptsConnections(int port, bool expectGreeting) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (ok && expectGreeting) {
    // Wait for the greeting so the server is really serving, not just bound.
    timeval timeout{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char buffer[256];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    ok = n >= 4 && std::strncmp(buffer, "220", 3) == 0;
    static const char quit[] = "QUIT\r\n";
    ssize_t ignored = send(fd, quit, sizeof quit - 1, MSG_NOSIGNAL);
    (void)ignored;
  }
  close(fd);
  return ok;
}

std::string pureFtpdFolder() {
  const char* chosen = std::getenv("TANDREL_PURE_FTPD_DIR");
  return chosen && *chosen ? chosen : kPureFtpdFolder;
}

std::string pureFtpdBinary() { return pureFtpdFolder() + "/usr/sbin/pure-ftpd"; }

std::string proftpdFolder() {
  const char* chosen = std::getenv("TANDREL_PROFTPD_DIR");
  return chosen && *chosen ? chosen : kProftpdFolder;
}

std::string proftpdBinary() { return proftpdFolder() + "/usr/sbin/proftpd"; }

}  // namespace

std::string serverKindName(ServerKind kind) {
  switch (kind) {
    case ServerKind::pyftpdlib:
      return "pyftpdlib";
    case ServerKind::vsftpd:
      return "vsftpd";
    case ServerKind::pureftpd:
      return "pureftpd";
    case ServerKind::proftpd:
      return "proftpd";
  }
  return "unknown";
}

std::vector<ServerKind> allServerKinds() {
  return {ServerKind::pyftpdlib, ServerKind::vsftpd, ServerKind::pureftpd, ServerKind::proftpd};
}

bool supportsTls(ServerKind kind, TlsMode mode) {
  // Debian's proftpd-core comes without mod_tls.
  if (kind == ServerKind::proftpd) return mode == TlsMode::none;
  return mode != TlsMode::implicit || kind == ServerKind::vsftpd;
}

namespace {

// A server that conflicts with vsftpd as a Debian package, unpacked from its
// packages into a folder of its own.
struct UnpackedServer {
  std::string folder;
  std::string binary;  // inside the folder
  std::vector<std::string> packages;
  const char* lock;
};

UnpackedServer pureFtpdPackages() {
  return {pureFtpdFolder(), pureFtpdBinary(), {"pure-ftpd"}, kPureFtpdLock};
}

UnpackedServer proftpdPackages() {
  return {proftpdFolder(),
          proftpdBinary(),
          {"proftpd-core", "libhashkit2", "libhiredis0.14", "libmemcached11", "libmemcachedutil2",
           "libpcre2-posix3"},
          kProftpdLock};
}

bool ensureUnpacked(const UnpackedServer& server, std::string& error) {
  if (access(server.binary.c_str(), X_OK) == 0) return true;
  // Test processes run in parallel: one of them fetches, the others wait.
  int lock = open(server.lock, O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  if (lock < 0 || flock(lock, LOCK_EX) != 0) {
    error = std::string("can't lock ") + server.lock;
    if (lock >= 0) close(lock);
    return false;
  }
  bool ok = access(server.binary.c_str(), X_OK) == 0;
  if (!ok) {
    char pattern[] = "/tmp/tandrel-unpack-XXXXXX";
    if (geteuid() != 0) {
      error = server.packages.front() + " is not unpacked in " + server.folder +
              " and fetching it needs root (see scripts/lib.sh)";
    } else if (mkdtemp(pattern) == nullptr) {
      error = std::string("mkdtemp: ") + std::strerror(errno);
    } else {
      std::string messages;
      std::vector<std::string> download = {"/usr/bin/apt-get", "download", "-q"};
      download.insert(download.end(), server.packages.begin(), server.packages.end());
      ok = runCommand(download, "", nullptr, pattern, &messages);
      if (!ok) {
        // A machine that never fetched package lists has none to download from.
        runCommand({"/usr/bin/apt-get", "update", "-q"}, "", nullptr, "", &messages);
        ok = runCommand(download, "", nullptr, pattern, &messages);
      }
      std::vector<std::string> debs;
      std::error_code ignored;
      for (const auto& entry : fs::directory_iterator(pattern, ignored)) {
        if (entry.path().extension() == ".deb") debs.push_back(entry.path().string());
      }
      if (!ok || debs.size() != server.packages.size()) {
        ok = false;
        error = "apt-get download " + server.packages.front() + " failed: " + messages;
      } else {
        // Unpacked beside and then moved, so that a half-unpacked folder is never taken.
        const std::string staging = server.folder + ".new";
        fs::remove_all(staging, ignored);
        fs::create_directories(staging, ignored);
        for (const std::string& deb : debs) {
          ok = ok && runCommand({"/usr/bin/dpkg", "-x", deb, staging}, "", nullptr, "", &messages);
        }
        if (ok) {
          fs::remove_all(server.folder, ignored);
          fs::rename(staging, server.folder, ignored);
          ok = access(server.binary.c_str(), X_OK) == 0;
        }
        if (!ok) error = "dpkg -x of " + server.packages.front() + " failed: " + messages;
      }
      fs::remove_all(pattern, ignored);
    }
  }
  flock(lock, LOCK_UN);
  close(lock);
  return ok;
}

}  // namespace

bool ensurePureFtpd(std::string& error) { return ensureUnpacked(pureFtpdPackages(), error); }

bool ensureProftpd(std::string& error) { return ensureUnpacked(proftpdPackages(), error); }

int freeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

FtpServer::FtpServer(ServerKind kind, ServerOptions options)
    : kind_(kind), options_(options), password_(kPassword) {
  user_ = kind == ServerKind::vsftpd ? kSystemUser : "tandrel";
  if (!supportsTls(kind_, options_.tls)) {
    startError_ = name() + " can't serve implicit TLS";
    return;
  }
  char pattern[] = "/tmp/tandrel-ftp-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    startError_ = std::string("mkdtemp: ") + std::strerror(errno);
    return;
  }
  baseDir_ = pattern;
  // The server's user must be able to walk down to its root.
  chmod(baseDir_.c_str(), 0755);
  root_ = baseDir_ + "/root";
  if (mkdir(root_.c_str(), 0755) != 0) {
    startError_ = std::string("mkdir root: ") + std::strerror(errno);
    return;
  }
  if (runsAsSystemUser()) {
    if (geteuid() != 0) {
      startError_ = name() + " needs root";
      return;
    }
    if (!ensureSystemUser(startError_)) return;
    giveToServerUser(root_);
  }
  if (kind_ == ServerKind::vsftpd) {
    // vsftpd drops privileges into this directory; it must be root's and empty.
    mkdir((baseDir_ + "/empty").c_str(), 0755);
  }
  if (kind_ == ServerKind::pureftpd) {
    if (!ensurePureFtpd(startError_) || !makePureFtpdUsers()) return;
  }
  if (kind_ == ServerKind::proftpd) {
    if (!ensureProftpd(startError_) || !makeProftpdUsers()) return;
  }
  if (options_.tls != TlsMode::none && !makeCertificates()) return;
  // The port can be taken between our probe and the server's bind: try again.
  for (int attempt = 0; attempt < 3 && pid_ <= 0; ++attempt) startOnce();
}

FtpServer::~FtpServer() {
  stop();
  if (!baseDir_.empty()) {
    std::error_code ignored;
    fs::remove_all(baseDir_, ignored);
  }
}

std::string FtpServer::hostArgument() const {
  const std::string address = "127.0.0.1:" + std::to_string(port_);
  switch (options_.tls) {
    case TlsMode::none:
      return address;
    case TlsMode::explicit_:
      return "ftpes://" + address;
    case TlsMode::implicit:
      return "ftps://" + address;
  }
  return address;
}

std::string FtpServer::name() const { return serverKindName(kind_); }

std::string FtpServer::log() const { return readWholeFile(baseDir_ + "/server.log"); }

void FtpServer::giveToServerUser(const std::string& path) const {
  if (!runsAsSystemUser()) return;
  const passwd* account = getpwnam(kSystemUser);
  if (account == nullptr) return;
  std::error_code ignored;
  if (lchown(path.c_str(), account->pw_uid, account->pw_gid) != 0) return;
  if (fs::is_directory(fs::symlink_status(path, ignored))) {
    for (auto it = fs::recursive_directory_iterator(path, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
      int rc = lchown(it->path().c_str(), account->pw_uid, account->pw_gid);
      (void)rc;
    }
  }
}

Tree FtpServer::tree() const { return tree(""); }

Tree FtpServer::tree(const std::string& relative) const {
  const std::string path = relative.empty() ? root_ : root_ + "/" + relative;
  if (runsAsSystemUser()) {
    if (const passwd* account = getpwnam(kSystemUser))
      return Tree(path, account->pw_uid, account->pw_gid);
  }
  return Tree(path);
}

bool FtpServer::makeCertificates() {
  // A CA of the test's own and a server certificate it signed, valid for the
  // address the tool connects to and for the name "localhost". EC keys are
  // made in milliseconds, RSA keys can take a second.
  caFile_ = baseDir_ + "/ca.pem";
  certificateFile_ = baseDir_ + "/server.pem";
  keyFile_ = baseDir_ + "/server.key";
  const std::string caKey = baseDir_ + "/ca.key", request = baseDir_ + "/server.csr",
                    extensions = baseDir_ + "/server.ext";
  if (!writeWholeFile(extensions,
                      "basicConstraints=critical,CA:FALSE\n"
                      "keyUsage=critical,digitalSignature,keyEncipherment\n"
                      "extendedKeyUsage=serverAuth\n"
                      "subjectAltName=IP:127.0.0.1,DNS:localhost\n")) {
    startError_ = "can't write " + extensions;
    return false;
  }
  std::string errors;
  const std::vector<std::vector<std::string>> steps = {
      {kOpenssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
       "-nodes", "-keyout", caKey, "-out", caFile_, "-days", "3", "-subj",
       "/CN=Tandrel Test CA", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
       "keyUsage=critical,keyCertSign,cRLSign"},
      {kOpenssl, "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
       "-nodes", "-keyout", keyFile_, "-out", request, "-subj", "/CN=localhost"},
      {kOpenssl, "x509", "-req", "-in", request, "-CA", caFile_, "-CAkey", caKey,
       "-CAcreateserial", "-out", certificateFile_, "-days", "2", "-extfile", extensions}};
  for (const std::vector<std::string>& step : steps) {
    if (!runCommand(step, "", nullptr, baseDir_, &errors)) {
      startError_ = "openssl " + step[1] + " failed: " + errors;
      caFile_.clear();
      return false;
    }
  }
  // pure-ftpd wants the key and the certificate in one file.
  if (kind_ == ServerKind::pureftpd &&
      !writeWholeFile(baseDir_ + "/server-with-key.pem",
                      readWholeFile(keyFile_) + readWholeFile(certificateFile_))) {
    startError_ = "can't write the pure-ftpd certificate file";
    return false;
  }
  return true;
}

std::string FtpServer::passwordHash() {
  // A SHA-512 crypt hash: pure-pw's own argon2 hash makes every log-in take
  // more than two seconds.
  std::string hash, errors;
  if (!runCommand({kOpenssl, "passwd", "-6", "-stdin"}, password_ + "\n", &hash, "", &errors) ||
      hash.empty()) {
    startError_ = "openssl passwd failed: " + errors;
    return "";
  }
  while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) hash.pop_back();
  return hash;
}

bool FtpServer::makeProftpdUsers() {
  const std::string hash = passwordHash();
  const passwd* account = getpwnam(kSystemUser);
  if (hash.empty() || account == nullptr) {
    if (account == nullptr) startError_ = std::string("no user ") + kSystemUser;
    return false;
  }
  const std::string users = baseDir_ + "/proftpd.passwd";
  if (!writeWholeFile(users, user_ + ":" + hash + ":" + std::to_string(account->pw_uid) + ":" +
                                 std::to_string(account->pw_gid) + "::" + root_ + ":/bin/sh\n")) {
    startError_ = "can't write " + users;
    return false;
  }
  chmod(users.c_str(), 0600);
  return true;
}

bool FtpServer::makePureFtpdUsers() {
  const std::string hash = passwordHash();
  if (hash.empty()) return false;
  std::string errors;
  const passwd* account = getpwnam(kSystemUser);
  if (account == nullptr) {
    startError_ = std::string("no user ") + kSystemUser;
    return false;
  }
  // The home directory without "/./" in it: the user is not chrooted.
  const std::string users = baseDir_ + "/pureftpd.passwd";
  if (!writeWholeFile(users, user_ + ":" + hash + ":" + std::to_string(account->pw_uid) + ":" +
                                 std::to_string(account->pw_gid) + "::" + root_ +
                                 "::::::::::::\n")) {
    startError_ = "can't write " + users;
    return false;
  }
  chmod(users.c_str(), 0600);
  if (!runCommand({pureFtpdFolder() + "/usr/bin/pure-pw", "mkdb",
                   baseDir_ + "/pureftpd.pdb", "-f", users},
                  "", nullptr, "", &errors)) {
    startError_ = "pure-pw mkdb failed: " + errors;
    return false;
  }
  return true;
}

std::vector<std::string> FtpServer::vsftpdCommand() {
  std::string config =
      "listen=YES\n"
      "listen_ipv6=NO\n"
      "background=NO\n"
      "listen_address=127.0.0.1\n"
      "listen_port=" + std::to_string(port_) + "\n"
      "anonymous_enable=NO\n"
      "local_enable=YES\n"
      "write_enable=YES\n"
      "local_umask=022\n"
      "local_root=" + root_ + "\n"
      "chroot_local_user=NO\n"
      "pam_service_name=vsftpd\n"
      "seccomp_sandbox=NO\n"
      "use_localtime=NO\n"
      "secure_chroot_dir=" + baseDir_ + "/empty\n"
      "delay_failed_login=0\n"
      "dirmessage_enable=NO\n"
      "xferlog_enable=NO\n"
      "connect_from_port_20=NO\n"
      "ftpd_banner=tandrel test server ready.\n"
      "pasv_enable=YES\n";
  if (options_.idleTimeoutSeconds > 0)
    config += "idle_session_timeout=" + std::to_string(options_.idleTimeoutSeconds) + "\n";
  if (options_.bytesPerSecond > 0)
    config += "local_max_rate=" + std::to_string(options_.bytesPerSecond) + "\n";
  if (options_.tls == TlsMode::none) {
    config += "ssl_enable=NO\n";
  } else {
    // As a careful administrator would set it up: nothing in clear text, and
    // the default that data connections must resume the control connection's
    // TLS session (require_ssl_reuse) left on.
    config +=
        "ssl_enable=YES\n"
        "rsa_cert_file=" + certificateFile_ + "\n"
        "rsa_private_key_file=" + keyFile_ + "\n"
        "force_local_logins_ssl=YES\n"
        "force_local_data_ssl=YES\n"
        "ssl_tlsv1=YES\n"
        "ssl_sslv2=NO\n"
        "ssl_sslv3=NO\n"
        "ssl_ciphers=HIGH\n";
    if (options_.tls == TlsMode::implicit) config += "implicit_ssl=YES\n";
  }
  std::string configPath = baseDir_ + "/vsftpd.conf";
  if (!writeWholeFile(configPath, config)) {
    startError_ = "can't write " + configPath;
    return {};
  }
  chmod(configPath.c_str(), 0600);
  return {kVsftpd, configPath};
}

std::vector<std::string> FtpServer::pureFtpdCommand() const {
  std::vector<std::string> argv = {
      pureFtpdBinary(),
      "--bind", "127.0.0.1," + std::to_string(port_),
      "--login", "puredb:" + baseDir_ + "/pureftpd.pdb",
      "--noanonymous",
      "--dontresolve",
      "--ipv4only",
      // Dot-files are listed, as the other servers list them.
      "--displaydotfiles",
      // Listings are cut at 2,000 entries by default.
      "--limitrecursion", "1000000:8",
      "--maxclientsperip", "50",
      "--maxclientsnumber", "50"};
  if (options_.idleTimeoutSeconds > 0) {
    argv.push_back("--maxidletime");
    argv.push_back(std::to_string((options_.idleTimeoutSeconds + 59) / 60));
  }
  if (options_.bytesPerSecond > 0) {
    long kib = std::max(1L, options_.bytesPerSecond / 1024);
    argv.push_back("--userbandwidth");
    argv.push_back(std::to_string(kib) + ":" + std::to_string(kib));
  }
  if (options_.tls == TlsMode::explicit_) {
    // 3: nothing without TLS, neither the log-in nor the data connections.
    argv.push_back("--tls");
    argv.push_back("3");
    argv.push_back("--certfile");
    argv.push_back(baseDir_ + "/server-with-key.pem");
  }
  return argv;
}

std::vector<std::string> FtpServer::proftpdCommand() {
  const passwd* account = getpwnam(kSystemUser);
  const group* accountGroup = account ? getgrgid(account->pw_gid) : nullptr;
  if (accountGroup == nullptr) {
    startError_ = std::string("no group for ") + kSystemUser;
    return {};
  }
  // No DefaultRoot: like vsftpd and pure-ftpd here, paths are the real ones.
  std::string config =
      "ServerType standalone\n"
      "ServerIdent on \"tandrel test server ready.\"\n"
      "Port " + std::to_string(port_) + "\n"
      "DefaultAddress 127.0.0.1\n"
      "SocketBindTight on\n"
      "UseIPv6 off\n"
      "User " + kSystemUser + "\n"
      "Group " + accountGroup->gr_name + "\n"
      "AuthOrder mod_auth_file.c\n"
      "AuthUserFile " + baseDir_ + "/proftpd.passwd\n"
      "RequireValidShell off\n"
      "AllowOverwrite on\n"
      "TimesGMT on\n"
      "UseReverseDNS off\n"
      "WtmpLog off\n"
      "DelayTable none\n"
      "MaxInstances 50\n"
      "Umask 022\n"
      "ListOptions \"-a\"\n"
      "PidFile " + baseDir_ + "/proftpd.pid\n"
      "ScoreboardFile " + baseDir_ + "/proftpd.scoreboard\n"
      "SystemLog " + baseDir_ + "/proftpd.system.log\n"
      "TransferLog none\n"
      "LogFormat cmds \"%m %J -> %s %S\"\n"
      "ExtendedLog " + baseDir_ + "/server.log ALL cmds\n";
  if (options_.idleTimeoutSeconds > 0) {
    config += "TimeoutIdle " + std::to_string(options_.idleTimeoutSeconds) + "\n";
  }
  if (options_.bytesPerSecond > 0) {
    config += "TransferRate RETR,STOR " +
              std::to_string(std::max(1L, options_.bytesPerSecond / 1024)) + "\n";
  }
  const std::string configPath = baseDir_ + "/proftpd.conf";
  if (!writeWholeFile(configPath, config)) {
    startError_ = "can't write " + configPath;
    return {};
  }
  return {proftpdBinary(), "-n", "-q", "-c", configPath};
}

bool FtpServer::startOnce() {
  port_ = freeLoopbackPort();
  if (port_ == 0) {
    startError_ = "no free port";
    return false;
  }
  std::vector<std::string> argv;
  switch (kind_) {
    case ServerKind::pyftpdlib:
      argv = {kPython,
              "-u",
              std::string(TANDREL_SOURCE_DIR) + "/tests/support/pyftpd_server.py",
              std::to_string(port_),
              root_,
              user_,
              password_,
              std::to_string(options_.idleTimeoutSeconds),
              options_.utf8PassThrough ? "1" : "0"};
      if (options_.bytesPerSecond > 0) {
        argv.push_back("--rate");
        argv.push_back(std::to_string(options_.bytesPerSecond));
      }
      if (options_.tls != TlsMode::none) {
        argv.push_back("--tls");
        argv.push_back(certificateFile_);
        argv.push_back(keyFile_);
        if (options_.dropEarlyDataHandshakes) argv.push_back("--drop-early-data-handshakes");
      }
      if (!options_.faultsFile.empty()) {
        argv.push_back("--faults");
        argv.push_back(options_.faultsFile);
      }
      if (options_.threaded) argv.push_back("--threaded");
      break;
    case ServerKind::vsftpd:
      argv = vsftpdCommand();
      if (argv.empty()) return false;
      break;
    case ServerKind::pureftpd:
      argv = pureFtpdCommand();
      break;
    case ServerKind::proftpd:
      argv = proftpdCommand();
      if (argv.empty()) return false;
      break;
  }
  std::string logPath = baseDir_ + "/server.log";
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    startError_ = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    // A group of its own, so stopping it also ends its session processes.
    setpgid(0, 0);
    // A test process that dies without running destructors (a crash, SIGKILL
    // from a time-out) must not leave its server behind.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (kind_ == ServerKind::proftpd) {
      setenv("LD_LIBRARY_PATH", (proftpdFolder() + "/usr/lib/x86_64-linux-gnu").c_str(), 1);
    }
    int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (logFd >= 0) {
      dup2(logFd, 1);
      dup2(logFd, 2);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  setpgid(pid, pid);
  pid_ = pid;

  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      startError_ = name() + " exited at start: " + log();
      return false;
    }
    if (acceptsConnections(port_, options_.tls != TlsMode::implicit)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  startError_ = name() + " did not accept connections on port " + std::to_string(port_) +
                " within 5 s: " + log();
  stop();
  return false;
}

void FtpServer::stop() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGTERM);
  kill(pid_, SIGTERM);
  auto deadline = Clock::now() + std::chrono::seconds(3);
  bool reaped = false;
  while (Clock::now() < deadline) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
      reaped = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Session processes of the group may outlive the listener.
  kill(-pid_, SIGKILL);
  if (!reaped) {
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

}  // namespace tandrel::testing
