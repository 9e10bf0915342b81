#include "storage/transfer.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "console/output.h"
#include "storage/failure.h"
#include "storage/sides.h"

namespace tandrel {

namespace {

void recordSizeMismatch(int64_t copied, int64_t expected) {
  recordFailure(FailureKind::system, "Copied " + std::to_string(copied) +
                                         " bytes where the source has " +
                                         std::to_string(expected));
}

std::string humanBytes(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return text;
}

// A one-line indicator for transfers that take more than about a second. It
// shows only on a terminal and is erased before the next line is printed.
class ProgressLine {
 public:
  explicit ProgressLine(int64_t knownTotal) : knownTotal_(knownTotal) {
    serverSide().setProgressObserver(
        [this](int64_t done, int64_t total) { update(done, total); });
  }
  ~ProgressLine() {
    serverSide().setProgressObserver(nullptr);
    if (shown_) clearStatusLine();
  }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

 private:
  using Clock = std::chrono::steady_clock;

  void update(int64_t done, int64_t total) {
    if (total <= 0) total = knownTotal_;
    Clock::time_point now = Clock::now();
    double elapsed = std::chrono::duration<double>(now - start_).count();
    if (elapsed < 1.0 || now - lastShown_ < std::chrono::milliseconds(200)) return;
    lastShown_ = now;
    double rate = done / elapsed;
    std::string text = "  " + humanBytes(static_cast<double>(done));
    if (total > 0) text += " of " + humanBytes(static_cast<double>(total));
    text += ", " + humanBytes(rate) + "/s";
    if (total > 0 && rate > 0 && done <= total) {
      long left = static_cast<long>((total - done) / rate);
      char eta[48];
      std::snprintf(eta, sizeof eta, ", %ld:%02ld left", left / 60, left % 60);
      text += eta;
    }
    showStatusLine(text);
    shown_ = true;
  }

  int64_t knownTotal_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastShown_;
  bool shown_ = false;
};

}  // namespace

bool getFile(const std::string& name, int64_t expectedSize) {
  LocalSide& local = localSide();
  std::unique_ptr<ByteSink> sink = local.createTemporary();
  if (!sink) return false;
  int64_t received = 0;
  bool ok;
  {
    ProgressLine progress(expectedSize);
    ok = serverSide().download(name, *sink, received);
  }
  sink.reset();
  if (ok && expectedSize >= 0 && received != expectedSize) {
    recordSizeMismatch(received, expectedSize);
    ok = false;
  }
  if (!ok) {
    local.discardTemporary();
    return false;
  }
  return local.commitTemporary(name);
}

bool putFile(const std::string& name) {
  int64_t size = -1;
  std::unique_ptr<ByteSource> source = localSide().openForReading(name, size);
  if (!source) return false;
  int64_t sent = 0;
  {
    ProgressLine progress(size);
    if (!serverSide().upload(*source, name, sent)) return false;
  }
  if (sent != size) {
    // The file changed while it was being read.
    recordSizeMismatch(sent, size);
    return false;
  }
  return true;
}

}  // namespace tandrel
