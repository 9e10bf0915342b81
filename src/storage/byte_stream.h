// Streams that carry a file's bytes between the two sides during a transfer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/status.h"

namespace tandrel {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `capacity` bytes into `buffer`; `got` receives the count, 0 at
  // the end of the data.
  virtual Status read(char* buffer, size_t capacity, size_t& got) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all `length` bytes or fails (a short write is a failure).
  virtual Status write(const char* data, size_t length) = 0;
};

}  // namespace tandrel
