// A test on a fresh stand-in: reset before and after it, and failed when it
// left a handle open or closed one twice. Base is the fixture it extends.
#pragma once

#include <gtest/gtest.h>

#include "platform/host/standin_control.h"

namespace test_support {

template <typename Base = ::testing::Test>
class OnFreshStandin : public Base {
 public:
  void SetUp() override {
    standin::Reset();
    Base::SetUp();
  }
  void TearDown() override {
    EXPECT_EQ(0u, standin::OpenHandleCount()) << "a handle was left open";
    EXPECT_EQ(0u, standin::InvalidCloseCount()) << "a handle was closed twice";
    standin::Reset();
  }
};

}  // namespace test_support
