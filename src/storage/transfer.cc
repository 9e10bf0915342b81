#include "storage/transfer.h"

#include <string>

#include "storage/failure.h"
#include "storage/sides.h"

namespace tandrel {

namespace {
void recordSizeMismatch(int64_t copied, int64_t expected) {
  recordFailure(FailureKind::system, "Copied " + std::to_string(copied) +
                                         " bytes where the source has " +
                                         std::to_string(expected));
}
}  // namespace

bool getFile(const std::string& name, int64_t expectedSize) {
  LocalSide& local = localSide();
  std::unique_ptr<ByteSink> sink = local.createTemporary();
  if (!sink) return false;
  int64_t received = 0;
  bool ok = serverSide().download(name, *sink, received);
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
  if (!serverSide().upload(*source, name, sent)) return false;
  if (sent != size) {
    // The file changed while it was being read.
    recordSizeMismatch(sent, size);
    return false;
  }
  return true;
}

}  // namespace tandrel
