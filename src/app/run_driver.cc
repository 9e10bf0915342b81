#include "app/run_driver.h"

#include "app/host_address.h"
#include "app/options.h"
#include "console/interrupt.h"
#include "console/output.h"
#include "console/reporter.h"
#include "console/terminal.h"
#include "console/transfer_status.h"
#include "state/run_state.h"
#include "storage/local_posix.h"
#include "storage/netrc_file.h"
#include "storage/replacement_journal.h"
#include "storage/run_lock.h"
#include "storage/server_curl.h"
#include "storage/sides.h"
#include "sync/directory_sync.h"

namespace tandrel {

namespace {

void printBanner() {
  outText("\nTandrel V1.0\nTwo-way synchronisation of a local directory tree with an FTP server\n");
}

// Steps after the connection: the start directories and the synchronisation.
void synchronizeStartDirectories(Run& run) {
  const RunSettings& settings = run.settings;
  if (!settings.localDirectory.empty()) {
    Status entered = run.local.changeDirectory(settings.localDirectory);
    if (!entered.ok()) {
      run.report.error(entered, "\nError: Can't open local directory '%s'",
                       settings.localDirectory.c_str());
      return;
    }
  }
  if (settings.serverDirectory.empty()) {
    if (Status known = run.server.logInDirectoryKnown(); !known.ok()) {
      // Nothing may be listed, let alone changed, in a place nobody chose.
      run.report.error(known, "\nError: Can't read the server's path of its log-in directory");
      return;
    }
  }
  if (!settings.serverDirectory.empty()) {
    Status location;
    Status entered = run.server.enterStartDirectory(settings.serverDirectory, location);
    if (!entered.ok()) {
      run.report.error(entered, "\nError: Can't open ftp server directory '%s'",
                       settings.serverDirectory.c_str());
      return;
    }
    if (!location.ok()) {
      run.report.error(
          location,
          "Warning: Can't read the server's path of ftp server directory '%s', going on "
          "with '%s'",
          settings.serverDirectory.c_str(), run.server.currentDirectory().c_str());
    }
  }
  out("Synchronizing local '%s' with '%s' on the '%s'...\n", settings.localDirectory.c_str(),
      settings.serverDirectory.c_str(), settings.host.c_str());
  DirectorySync start(run, "");
  start.run();
}

// The log-in the settings name: the server's address, the user, and the
// password or the netrc file that holds it. False after printing why not.
bool logInFor(const RunSettings& settings, LogIn& logIn) {
  std::string problem;
  if (!parseHostArgument(settings.host, logIn.address, problem)) {
    out("\nError: Invalid ftp host name '%s': %s\n", settings.host.c_str(), problem.c_str());
    return false;
  }
  logIn.user = settings.user;
  logIn.password = settings.password;
  if (settings.passwordGiven) return true;
  const std::string netrc = netrcPath();
  NetrcState state = checkNetrcFile(netrc, logIn.address.host, settings.user);
  if (state == NetrcState::exposed) {
    out("\nError: Netrc file '%s' holds a password that others than its owner can read or "
        "write; make it private (chmod 600) or take the password out\n",
        netrc.c_str());
    return false;
  }
  if (state == NetrcState::usable) logIn.netrcFile = netrc;
  return true;
}

}  // namespace

int runTandrel(int count, char** arguments) {
  printBanner();
  RunOptions options;
  if (int status = parseOptions(count - 1, arguments + 1, options); status != 0) return status;
  const RunSettings& settings = options.settings;

  LogIn logIn;
  if (!logInFor(settings, logIn)) return 1;
  installInterruptHandlers();

  // Before anything is touched, also the connection: a run started by cron while
  // the last one is still going must leave at once.
  const std::string start = settings.localDirectory.empty() ? "." : settings.localDirectory;
  RunLock lock;
  if (lock.take(start) == LockResult::heldElsewhere) {
    out("\nError: Another run is synchronizing local directory '%s' right now\n",
        start.c_str());
    return 1;
  }

  // Until there is a Run, the driver reports for it.
  Reporter report;
  if (Status session = openSession(); !session.ok()) {
    report.error(session, "\nError: Can't open internet session");
    return kUsageExitStatus;
  }
  const std::unique_ptr<TransferWatch> watch = makeTerminalTransferWatch();
  PosixLocalSide local;
  CurlServerSide server;
  // Before the connection: an interruption stops its attempts too.
  server.setTransferWatch(watch.get());
  Run run(local, server, options);
  run.report = std::move(report);
  out("\nConnecting to FTP server '%s' with '%s' user...\n", settings.host.c_str(),
      settings.user.c_str());
  if (Status connected = server.connect(logIn); !connected.ok()) {
    // An interrupted connection attempt is not the server's failure: the
    // interruption line says what happened.
    if (!interruptRequested()) {
      run.report.error(connected, "\nError: Can't connect to ftp server '%s' with '%s' user",
                       settings.host.c_str(), settings.user.c_str());
    }
  } else {
    LocalReplacementJournal journal(local, server);
    server.setReplacementJournal(&journal);
    synchronizeStartDirectories(run);
    server.setReplacementJournal(nullptr);
    server.disconnect();
  }
  closeSession(server);
  restoreTerminal();

  if (int signalNumber = interruptSignal(); signalNumber != 0) {
    out("\nInterrupted: the run stopped after the current action; what was done is saved.\n");
    return 128 + signalNumber;
  }
  return run.report.problems() == 0 ? 0 : 1;
}

}  // namespace tandrel
