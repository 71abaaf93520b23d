#include "removal/handles.h"

#include <gtest/gtest.h>

#include <utility>

#include "tests/sim/sim_machine.h"

namespace {

using removal::RegistryKey;
using removal::ServiceHandle;

class HandlesTest : public ::testing::Test {
 protected:
  ServiceHandle OpenManager() {
    return ServiceHandle(machine.services,
                         machine.services.OpenSCManager(platform::kScManagerConnect));
  }

  sim::SimMachine machine;
};

TEST_F(HandlesTest, ClosesOnceWhenItGoesOutOfScope) {
  {
    const ServiceHandle manager = OpenManager();
    ASSERT_TRUE(manager);
    EXPECT_EQ(machine.services.OpenHandles(), 1u);
  }
  EXPECT_EQ(machine.services.OpenHandles(), 0u);
  EXPECT_TRUE(machine.services.misuses().empty());
}

TEST_F(HandlesTest, MovingHandsTheCloseOn) {
  ServiceHandle first = OpenManager();
  const platform::ScHandle raw = first.get();
  ServiceHandle second(std::move(first));
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  EXPECT_EQ(second.get(), raw);
  first.reset();
  EXPECT_EQ(machine.services.OpenHandles(), 1u);
  second.reset();
  second.reset();
  EXPECT_EQ(machine.services.OpenHandles(), 0u);
  EXPECT_TRUE(machine.services.misuses().empty());
}

TEST_F(HandlesTest, MoveAssignmentClosesTheHandleItReplaces) {
  ServiceHandle kept = OpenManager();
  ServiceHandle replaced = OpenManager();
  const platform::ScHandle raw = kept.get();
  replaced = std::move(kept);
  EXPECT_EQ(replaced.get(), raw);
  EXPECT_EQ(machine.services.OpenHandles(), 1u);
  auto& self = replaced;
  replaced = std::move(self);
  EXPECT_EQ(machine.services.OpenHandles(), 1u);
  replaced = ServiceHandle();
  EXPECT_EQ(machine.services.OpenHandles(), 0u);
  EXPECT_TRUE(machine.services.misuses().empty());
}

TEST_F(HandlesTest, EmptyOwnerClosesNothing) {
  { const RegistryKey none(machine.registry, nullptr); }
  { const RegistryKey defaulted; }
  EXPECT_TRUE(machine.registry.misuses().empty());
  EXPECT_TRUE(machine.core.calls.empty());
}

TEST_F(HandlesTest, RegistryKeysCloseThroughTheRegistry) {
  machine.registry.AddKey(L"SOFTWARE\\Orvane Systems");
  platform::HKey raw = nullptr;
  ASSERT_EQ(
      machine.registry.OpenLocalMachineKey(L"SOFTWARE\\Orvane Systems", platform::kKeyRead, raw),
      0);
  { const RegistryKey key(machine.registry, raw); }
  EXPECT_EQ(machine.registry.OpenHandles(), 0u);
  EXPECT_TRUE(machine.registry.misuses().empty());
}

}  // namespace
