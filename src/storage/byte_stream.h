// Streams that carry a file's bytes between the two sides during a transfer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tandrel {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `capacity` bytes into `buffer`. Returns the count, 0 at the end
  // of the data, or -1 on failure (the failure record is set).
  virtual long read(char* buffer, size_t capacity) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all `length` bytes or fails (a short write is a failure); sets the
  // failure record on failure.
  virtual bool write(const char* data, size_t length) = 0;
};

}  // namespace tandrel
