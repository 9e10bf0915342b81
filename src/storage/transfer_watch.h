// What a file transfer reports while it runs, and how it learns that it should
// stop. The storage layer only calls it; the tool supplies one that shows a
// progress line and reads the interruption flag. Until a side is given
// one, its transfers go unwatched and are never cancelled.
#pragma once

#include <cstdint>

namespace tandrel {

class TransferWatch {
 public:
  virtual ~TransferWatch() = default;

  // Whether the run is to stop: a transfer under way is abandoned, and
  // nothing more is done to tidy up after it. Polled often, from inside
  // transfers: it must return quickly.
  virtual bool cancelled() = 0;
  // A transfer of `total` bytes (-1 when not known) begins.
  virtual void started(int64_t total) = 0;
  // The bytes moved so far, and the total (0 when not known). Called often:
  // it must return quickly.
  virtual void progress(int64_t done, int64_t total) = 0;
  // The transfer begun last is over, however it ended.
  virtual void finished() = 0;
};

// A watch that shows nothing and never asks to stop: what a side reports to
// until it is given one. It keeps no state.
TransferWatch& unwatchedTransfers();

}  // namespace tandrel
