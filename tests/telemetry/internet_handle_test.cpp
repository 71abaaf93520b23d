#include "telemetry/internet_handle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "tests/sim/sim_internet.h"

namespace telemetry {
namespace {

platform::HInternet AllBitsSet() {
  return reinterpret_cast<platform::HInternet>(~std::uintptr_t{0});
}

class InternetHandleTest : public ::testing::Test {
 protected:
  platform::HInternet OpenRoot() { return internet.Open(L"ZANT", 0); }

  sim::SimCore core;
  sim::SimInternet internet{core};
};

TEST_F(InternetHandleTest, NullAndAllBitsSetAreNoHandle) {
  EXPECT_FALSE(IsValidInternetHandle(nullptr));
  EXPECT_FALSE(IsValidInternetHandle(AllBitsSet()));
  EXPECT_TRUE(IsValidInternetHandle(OpenRoot()));
  {
    InternetHandle none(internet, nullptr);
    InternetHandle invalid(internet, AllBitsSet());
    EXPECT_FALSE(none.valid());
    EXPECT_FALSE(invalid.valid());
    invalid.Close();
    EXPECT_EQ(invalid.get(), nullptr);
  }
  // Neither was handed to InternetCloseHandle.
  EXPECT_TRUE(internet.closedHandles().empty());
  EXPECT_TRUE(internet.misuses().empty());
}

TEST_F(InternetHandleTest, ClosesOnceOnDestruction) {
  const platform::HInternet handle = OpenRoot();
  {
    InternetHandle holder(internet, handle);
    EXPECT_TRUE(holder.valid());
    EXPECT_EQ(holder.get(), handle);
  }
  EXPECT_EQ(internet.closedHandles(), std::vector<platform::HInternet>{handle});
  EXPECT_EQ(internet.OpenHandles(), 0u);
}

TEST_F(InternetHandleTest, ExplicitCloseEmptiesTheHolderAndIsNotRepeated) {
  const platform::HInternet handle = OpenRoot();
  {
    InternetHandle holder(internet, handle);
    holder.Close();
    EXPECT_FALSE(holder.valid());
    holder.Close();
  }
  EXPECT_EQ(internet.closedHandles(), std::vector<platform::HInternet>{handle});
  EXPECT_TRUE(internet.misuses().empty());
}

TEST_F(InternetHandleTest, MoveTransfersOwnership) {
  const platform::HInternet handle = OpenRoot();
  {
    InternetHandle first(internet, handle);
    InternetHandle second(std::move(first));
    EXPECT_FALSE(first.valid());  // NOLINT(bugprone-use-after-move): checked on purpose
    EXPECT_EQ(second.get(), handle);
    InternetHandle third;
    third = std::move(second);
    EXPECT_EQ(third.get(), handle);
    EXPECT_TRUE(internet.closedHandles().empty());
  }
  EXPECT_EQ(internet.closedHandles(), std::vector<platform::HInternet>{handle});
  EXPECT_TRUE(internet.misuses().empty());
}

TEST_F(InternetHandleTest, MoveAssignmentClosesTheHandleItReplaces) {
  const platform::HInternet older = OpenRoot();
  const platform::HInternet newer = OpenRoot();
  {
    InternetHandle target(internet, older);
    InternetHandle source(internet, newer);
    target = std::move(source);
    EXPECT_EQ(internet.closedHandles(), std::vector<platform::HInternet>{older});
    EXPECT_EQ(target.get(), newer);
  }
  EXPECT_EQ(internet.closedHandles(), (std::vector<platform::HInternet>{older, newer}));
  EXPECT_TRUE(internet.misuses().empty());
}

}  // namespace
}  // namespace telemetry
