// Fuzzes the telemetry event record: a construction with nullable texts, then a
// sequence of AddCustomField calls, each checked against a model of the record
// kept here.
//
// Input: a byte whose bits 0-2 give module, error and build as null, their
// three texts, then until the input ends one call per op byte. Bits 0-1 of the
// op choose the name: 0 null, 1 a reserved name, 2 a name from a small pool of
// near misses and repeats (both indexed by the next byte), 3 a text. Bits 2-3
// choose the value: 0 null, 1 empty, otherwise a text. Texts are in the format
// of fuzz/fuzz_input.h and may hold zero units, which end a C string early.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "telemetry/telemetry_event.h"
#include "tessel-version.h"

namespace {

using fuzz::Require;

// The names a custom field may never take: the encoder's own keys, "debug",
// and "ping", which ends every body.
const std::wstring kReservedNames[] = {L"",      L"product",  L"version", L"error", L"module",
                                       L"build", L"language", L"debug",   L"ping"};

// Names that bring repeats and near misses of the reserved ones; the last is
// "ping" with a tail hidden behind a zero unit.
const std::wstring kPoolNames[] = {L"errors",  L"reboot", L"message",
                                   L"Product", L"PING",   L"pingx",
                                   L" build",  L"debug_", std::wstring(L"ping\0tail", 9)};

template <std::size_t N>
const std::wstring& Pick(const std::wstring (&names)[N], std::uint8_t index) {
  return names[index % N];
}

bool IsReserved(const std::wstring& name) {
  return std::ranges::find(kReservedNames, name) != std::end(kReservedNames);
}

struct ModelField {
  std::wstring name;
  std::optional<std::wstring> value;
};

// What AddCustomField should do to a record holding `model`: the result, and
// the list afterwards in `model`.
bool ModelAdd(std::vector<ModelField>& model, const wchar_t* name, const wchar_t* value) {
  if (name == nullptr) return false;
  const std::wstring wanted(name);
  if (IsReserved(wanted)) return false;
  const std::optional<std::wstring> newValue =
      value == nullptr ? std::nullopt : std::optional<std::wstring>(value);
  for (ModelField& field : model) {
    if (field.name == wanted) {
      field.value = newValue;
      return true;
    }
  }
  model.push_back({wanted, newValue});
  return true;
}

void CheckRecord(const telemetry::TelemetryEvent& event, const std::vector<ModelField>& model) {
  const std::vector<telemetry::CustomField>& fields = event.customFields();
  std::set<std::wstring> seen;
  for (const telemetry::CustomField& field : fields) {
    Require(!IsReserved(field.name), "AddCustomField: no reserved name in the list");
    Require(seen.insert(field.name).second, "AddCustomField: no name twice in the list");
    Require(field.hasValue || field.value.empty(), "AddCustomField: no value without hasValue");
  }
  Require(fields.size() == model.size(), "AddCustomField: as many fields as the model");
  for (std::size_t i = 0; i < fields.size(); ++i) {
    Require(fields[i].name == model[i].name, "AddCustomField: names in insertion order");
    Require(fields[i].hasValue == model[i].value.has_value(),
            "AddCustomField: hasValue exactly when the last value was not null");
    Require(fields[i].value == model[i].value.value_or(L""),
            "AddCustomField: the last value given, empty for null");
  }
}

std::wstring Expected(const wchar_t* text) { return text == nullptr ? std::wstring() : text; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  const std::uint8_t shape = input.Byte();
  const std::wstring texts[3] = {input.Text(), input.Text(), input.Text()};
  const wchar_t* arguments[3];
  for (int i = 0; i < 3; ++i) arguments[i] = (shape & (1u << i)) != 0 ? nullptr : texts[i].c_str();

  telemetry::TelemetryEvent event(arguments[0], arguments[1], arguments[2]);
  const auto checkFixed = [&] {
    Require(event.product == L"tessel_remove", "TelemetryEvent: product is fixed");
    Require(event.version == product_version::kText, "TelemetryEvent: version is fixed");
    Require(event.language == L"en", "TelemetryEvent: language is fixed");
    Require(event.module == Expected(arguments[0]), "TelemetryEvent: module as given");
    Require(event.error == Expected(arguments[1]), "TelemetryEvent: error as given");
    Require(event.build == Expected(arguments[2]), "TelemetryEvent: build as given");
  };
  checkFixed();
  Require(event.customFields().empty(), "TelemetryEvent: no custom field at first");

  std::vector<ModelField> model;
  while (!input.empty()) {
    const std::uint8_t op = input.Byte();
    std::wstring name;
    bool nameIsNull = false;
    switch (op & 0x03) {
      case 0:
        nameIsNull = true;
        break;
      case 1:
        name = Pick(kReservedNames, input.Byte());
        break;
      case 2:
        name = Pick(kPoolNames, input.Byte());
        break;
      default:
        name = input.Text();
        break;
    }
    std::wstring value;
    const bool valueIsNull = (op & 0x0C) == 0;
    if ((op & 0x0C) > 0x04) value = input.Text();

    const wchar_t* namePointer = nameIsNull ? nullptr : name.c_str();
    const wchar_t* valuePointer = valueIsNull ? nullptr : value.c_str();
    const bool expected = ModelAdd(model, namePointer, valuePointer);
    Require(event.AddCustomField(namePointer, valuePointer) == expected,
            "AddCustomField: true exactly when the name is neither null nor reserved");
    CheckRecord(event, model);
    checkFixed();
  }
  return 0;
}
