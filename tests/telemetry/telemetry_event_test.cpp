#include "telemetry/telemetry_event.h"

#include <gtest/gtest.h>
#include "tessel-version.h"

#include <string>
#include <vector>

namespace telemetry {
namespace {

std::vector<std::wstring> Names(const TelemetryEvent& event) {
  std::vector<std::wstring> names;
  for (const CustomField& field : event.customFields()) names.push_back(field.name);
  return names;
}

TEST(TelemetryEventTest, ConstructionSetsConstantsAndCopiesArguments) {
  const std::wstring runId = L"3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f";
  const TelemetryEvent event(L"error", L"FileDelete", runId.c_str());
  EXPECT_EQ(event.product, L"tessel_remove");
  EXPECT_EQ(event.version, product_version::kText);
  EXPECT_EQ(event.language, L"en");
  EXPECT_EQ(event.module, L"error");
  EXPECT_EQ(event.error, L"FileDelete");
  EXPECT_EQ(event.build, runId);
  EXPECT_TRUE(event.customFields().empty());
}

TEST(TelemetryEventTest, NullArgumentsGiveEmptyFields) {
  const TelemetryEvent fromNull(nullptr, nullptr, nullptr);
  const TelemetryEvent fromEmpty(L"", L"", L"");
  EXPECT_EQ(fromNull.module, fromEmpty.module);
  EXPECT_EQ(fromNull.error, fromEmpty.error);
  EXPECT_EQ(fromNull.build, fromEmpty.build);
  EXPECT_TRUE(fromNull.module.empty());
  EXPECT_TRUE(fromNull.error.empty());
  EXPECT_TRUE(fromNull.build.empty());
}

TEST(TelemetryEventTest, ReservedAndNullNamesAreRefusedAndChangeNothing) {
  TelemetryEvent event(L"done", nullptr, L"id");
  ASSERT_TRUE(event.AddCustomField(L"first", L"1"));
  for (const wchar_t* name : {L"", L"product", L"version", L"error", L"module", L"build",
                              L"language", L"debug", L"ping"}) {
    EXPECT_FALSE(event.AddCustomField(name, L"x")) << "name \"" << name << "\"";
  }
  EXPECT_FALSE(event.AddCustomField(nullptr, L"x"));
  ASSERT_EQ(event.customFields().size(), 1u);
  EXPECT_EQ(event.customFields()[0].name, L"first");
  EXPECT_EQ(event.customFields()[0].value, L"1");
}

TEST(TelemetryEventTest, ReservedNamesCompareExactly) {
  TelemetryEvent event(L"done", nullptr, L"id");
  // Case differs, or a reserved name is only a prefix or an extension.
  for (const wchar_t* name : {L"Product", L"PING", L"errors", L"pin", L"builds", L"debug "}) {
    EXPECT_TRUE(event.AddCustomField(name, L"v")) << "name \"" << name << "\"";
  }
  EXPECT_EQ(Names(event), (std::vector<std::wstring>{L"Product", L"PING", L"errors", L"pin",
                                                     L"builds", L"debug "}));
}

TEST(TelemetryEventTest, ReplacingAFieldKeepsItsPlace) {
  TelemetryEvent event(L"done", nullptr, L"id");
  EXPECT_TRUE(event.AddCustomField(L"reboot", L"No"));
  EXPECT_TRUE(event.AddCustomField(L"errors", L"0"));
  EXPECT_TRUE(event.AddCustomField(L"reboot", L"Yes"));
  EXPECT_EQ(Names(event), (std::vector<std::wstring>{L"reboot", L"errors"}));
  EXPECT_EQ(event.customFields()[0].value, L"Yes");
  EXPECT_EQ(event.customFields()[1].value, L"0");
}

TEST(TelemetryEventTest, NullValueAndEmptyValueDiffer) {
  TelemetryEvent event(L"done", nullptr, L"id");
  EXPECT_TRUE(event.AddCustomField(L"flag", nullptr));
  EXPECT_TRUE(event.AddCustomField(L"blank", L""));
  ASSERT_EQ(event.customFields().size(), 2u);
  EXPECT_FALSE(event.customFields()[0].hasValue);
  EXPECT_TRUE(event.customFields()[0].value.empty());
  EXPECT_TRUE(event.customFields()[1].hasValue);
  EXPECT_TRUE(event.customFields()[1].value.empty());
}

TEST(TelemetryEventTest, ReplacementTogglesHasValueAndClearsOldValue) {
  TelemetryEvent event(L"done", nullptr, L"id");
  event.AddCustomField(L"flag", nullptr);
  event.AddCustomField(L"flag", L"on");
  ASSERT_EQ(event.customFields().size(), 1u);
  EXPECT_TRUE(event.customFields()[0].hasValue);
  EXPECT_EQ(event.customFields()[0].value, L"on");
  event.AddCustomField(L"flag", nullptr);
  ASSERT_EQ(event.customFields().size(), 1u);
  EXPECT_FALSE(event.customFields()[0].hasValue);
  EXPECT_TRUE(event.customFields()[0].value.empty());
}

}  // namespace
}  // namespace telemetry
