#include "support/ftp_server.h"

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

// Runs a command with the given standard input; true when it exited with 0.
bool runCommand(const std::vector<std::string>& argv, const std::string& input) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    dup2(fds[0], 0);
    close(fds[0]);
    close(fds[1]);
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 1);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[0]);
  ssize_t ignored = write(fds[1], input.data(), input.size());
  (void)ignored;
  close(fds[1]);
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

bool acceptsConnections(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (ok) {
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

}  // namespace

std::string serverKindName(ServerKind kind) {
  return kind == ServerKind::pyftpdlib ? "pyftpdlib" : "vsftpd";
}

std::vector<ServerKind> allServerKinds() { return {ServerKind::pyftpdlib, ServerKind::vsftpd}; }

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
  char pattern[] = "/tmp/tandrel-ftp-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    startError_ = std::string("mkdtemp: ") + std::strerror(errno);
    return;
  }
  baseDir_ = pattern;
  // The vsftpd user must be able to walk down to its root.
  chmod(baseDir_.c_str(), 0755);
  root_ = baseDir_ + "/root";
  if (mkdir(root_.c_str(), 0755) != 0) {
    startError_ = std::string("mkdir root: ") + std::strerror(errno);
    return;
  }
  if (kind_ == ServerKind::vsftpd) {
    if (geteuid() != 0) {
      startError_ = "vsftpd needs root";
      return;
    }
    if (!ensureSystemUser(startError_)) return;
    giveToServerUser(root_);
    // vsftpd drops privileges into this directory; it must be root's and empty.
    mkdir((baseDir_ + "/empty").c_str(), 0755);
  }
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

std::string FtpServer::hostArgument() const { return "127.0.0.1:" + std::to_string(port_); }

std::string FtpServer::name() const { return serverKindName(kind_); }

std::string FtpServer::log() const { return readWholeFile(baseDir_ + "/server.log"); }

void FtpServer::giveToServerUser(const std::string& path) const {
  if (kind_ != ServerKind::vsftpd) return;
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

Tree FtpServer::tree() const {
  if (kind_ == ServerKind::vsftpd) {
    if (const passwd* account = getpwnam(kSystemUser))
      return Tree(root_, account->pw_uid, account->pw_gid);
  }
  return Tree(root_);
}

bool FtpServer::startOnce() {
  port_ = freeLoopbackPort();
  if (port_ == 0) {
    startError_ = "no free port";
    return false;
  }
  std::vector<std::string> argv;
  if (kind_ == ServerKind::pyftpdlib) {
    argv = {kPython,
            "-u",
            std::string(TANDREL_SOURCE_DIR) + "/tests/support/pyftpd_server.py",
            std::to_string(port_),
            root_,
            user_,
            password_,
            std::to_string(options_.idleTimeoutSeconds),
            options_.utf8PassThrough ? "1" : "0"};
  } else {
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
        "ssl_enable=NO\n"
        "ftpd_banner=tandrel test server ready.\n"
        "pasv_enable=YES\n";
    if (options_.idleTimeoutSeconds > 0)
      config += "idle_session_timeout=" + std::to_string(options_.idleTimeoutSeconds) + "\n";
    std::string configPath = baseDir_ + "/vsftpd.conf";
    if (!writeWholeFile(configPath, config)) {
      startError_ = "can't write " + configPath;
      return false;
    }
    chmod(configPath.c_str(), 0600);
    argv = {kVsftpd, configPath};
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
    if (acceptsConnections(port_)) return true;
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
