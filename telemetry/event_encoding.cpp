#include "telemetry/event_encoding.h"

#include "platform/ascii.h"
#include "platform/utf8.h"

namespace telemetry {
namespace {

bool IsUnreserved(unsigned char byte) {
  return platform::IsAsciiLetter(byte) || (byte >= '0' && byte <= '9') || byte == '-' ||
         byte == '_' || byte == '.' || byte == '~';
}

void AppendOptional(std::wstring& body, const wchar_t* key, const std::wstring& value) {
  if (!value.empty()) body += EncodeField(key, value.c_str());
}

}  // namespace

std::wstring EncodeEvent(const TelemetryEvent& event) {
  // The first field goes without its leading "&".
  std::wstring body = EncodeField(L"product", event.product.c_str()).substr(1);
  body += EncodeField(L"version", event.version.c_str());
  body += EncodeField(L"error", event.error.c_str());
  AppendOptional(body, L"language", event.language);
  AppendOptional(body, L"module", event.module);
  AppendOptional(body, L"build", event.build);
  for (const CustomField& field : event.customFields()) {
    body += EncodeField(field.name.c_str(), field.hasValue ? field.value.c_str() : nullptr);
  }
  return body;
}

std::wstring EncodeField(const wchar_t* name, const wchar_t* value) {
  if (name == nullptr) return {};
  std::wstring field = L"&" + PercentEncode(name);
  if (value != nullptr) field += L"=" + PercentEncode(value);
  return field;
}

std::wstring PercentEncode(const wchar_t* text) {
  static constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";
  std::wstring escaped;
  for (const char signedByte : platform::EncodeUtf8(text)) {
    const auto byte = static_cast<unsigned char>(signedByte);
    if (IsUnreserved(byte)) {
      escaped.push_back(static_cast<wchar_t>(byte));
    } else {
      escaped.push_back(L'%');
      escaped.push_back(kHexDigits[byte >> 4]);
      escaped.push_back(kHexDigits[byte & 0x0F]);
    }
  }
  return escaped;
}

}  // namespace telemetry
