#pragma once
// The driver on the recording host as a gtest fixture.
#include <gtest/gtest.h>

#include "support/driver.h"

namespace kvtest {

struct DriverTest : ::testing::Test, Driver<> {};

}  // namespace kvtest
