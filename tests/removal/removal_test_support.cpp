#include "tests/removal/removal_test_support.h"
#include "tessel-version.h"

#include <optional>

namespace removal_test {

void PrintTo(const ErrorEvent& event, std::ostream* out) {
  *out << "{" << ::testing::PrintToString(event.label) << ", "
       << ::testing::PrintToString(event.message) << "}";
}

std::vector<ErrorEvent> RemovalTest::ErrorEvents() const {
  std::vector<ErrorEvent> events;
  for (const sim::FormFields& fields : machine.internet.SentForms()) {
    std::vector<std::wstring> names;
    for (const sim::FormField& field : fields) {
      names.push_back(field.name);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"product", L"version", L"error", L"language",
                                                L"module", L"build", L"message", L"ping"}));
    EXPECT_EQ(sim::FormValue(fields, L"product"), L"tessel_remove");
    EXPECT_EQ(sim::FormValue(fields, L"version"), product_version::kText);
    EXPECT_EQ(sim::FormValue(fields, L"language"), L"en");
    EXPECT_EQ(sim::FormValue(fields, L"module"), L"error");
    EXPECT_EQ(sim::FormValue(fields, L"build"), kRunId);
    events.push_back({sim::FormValue(fields, L"error").value_or(L"(none)"),
                      sim::FormValue(fields, L"message").value_or(L"(none)")});
  }
  return events;
}

void RemovalTest::ExpectAllHandlesClosed() const {
  EXPECT_EQ(machine.services.OpenHandles(), 0u);
  EXPECT_TRUE(machine.services.misuses().empty());
  EXPECT_EQ(machine.registry.OpenHandles(), 0u);
  EXPECT_TRUE(machine.registry.misuses().empty());
  EXPECT_EQ(machine.internet.OpenHandles(), 0u);
  EXPECT_TRUE(machine.internet.misuses().empty());
  EXPECT_TRUE(machine.files.misuses().empty());
}

std::size_t RemovalTest::FirstCall(const std::wstring& prefix) const {
  const std::vector<std::wstring>& calls = machine.core.calls;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].compare(0, prefix.size(), prefix) == 0) {
      return i;
    }
  }
  return calls.size();
}

}  // namespace removal_test
