#include "console/transfer_status.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "console/interrupt.h"
#include "console/output.h"

namespace tandrel {

namespace {

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

class TerminalTransferWatch : public TransferWatch {
 public:
  bool cancelled() override { return interruptRequested(); }

  void started(int64_t total) override {
    knownTotal_ = total;
    start_ = Clock::now();
    lastShown_ = Clock::time_point();
    shown_ = false;
  }

  void progress(int64_t done, int64_t total) override {
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

  void finished() override {
    if (shown_) clearStatusLine();
    shown_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;

  int64_t knownTotal_ = -1;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastShown_;
  bool shown_ = false;
};

}  // namespace

std::unique_ptr<TransferWatch> makeTerminalTransferWatch() {
  return std::make_unique<TerminalTransferWatch>();
}

}  // namespace tandrel
