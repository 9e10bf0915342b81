// Checks a storage operation's Status in a test, showing its text when it failed.
#pragma once

#include <gtest/gtest.h>

#include "storage/status.h"

namespace tandrel {

inline ::testing::AssertionResult succeeded(const Status& status) {
  if (status.ok()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << status.text();
}

}  // namespace tandrel
