// The form splitter and request records that other tests read telemetry with.
#include "tests/sim/sim_internet.h"

#include <gtest/gtest.h>

#include <string>

namespace sim {
namespace {

TEST(SplitFormTest, FieldsInOrderWithAndWithoutValues) {
  const FormFields fields = SplitForm("product=tessel_remove&error=&flag&errors=2&ping");
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[0].name, L"product");
  EXPECT_EQ(fields[0].value, L"tessel_remove");
  EXPECT_TRUE(fields[0].hasValue);
  EXPECT_EQ(fields[1].name, L"error");
  EXPECT_TRUE(fields[1].hasValue);
  EXPECT_TRUE(fields[1].value.empty());
  EXPECT_EQ(fields[2].name, L"flag");
  EXPECT_FALSE(fields[2].hasValue);
  EXPECT_EQ(fields[4].name, L"ping");
  EXPECT_FALSE(fields[4].hasValue);
  EXPECT_EQ(FormValue(fields, L"errors"), L"2");
  EXPECT_EQ(FormValue(fields, L"error"), L"");
  EXPECT_EQ(FormValue(fields, L"flag"), std::nullopt);
  EXPECT_EQ(FormValue(fields, L"missing"), std::nullopt);
}

TEST(SplitFormTest, DecodesEscapesAndUtf8) {
  const FormFields fields =
      SplitForm("message=C%3A%5CProgram%20Files%5Ccaf%C3%A9&a%26b%3Dc=x%3D1%26y");
  ASSERT_EQ(fields.size(), 2u);
  std::wstring expected = L"C:\\Program Files\\caf";
  expected.push_back(static_cast<wchar_t>(0xE9));
  EXPECT_EQ(fields[0].value, expected);
  EXPECT_EQ(fields[1].name, L"a&b=c");
  EXPECT_EQ(fields[1].value, L"x=1&y");
}

TEST(SplitFormTest, BadEscapesAndBadUtf8AreKeptVisible) {
  const FormFields fields = SplitForm("a=%ZZ%4&b=%FF");
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0].value, L"%ZZ%4");
  EXPECT_EQ(fields[1].value, std::wstring(1, static_cast<wchar_t>(0xFFFD)));
  EXPECT_TRUE(SplitForm("").empty());
}

TEST(HttpExchangeTest, HeaderLooksUpByNameWithoutLineEnd) {
  HttpExchange exchange;
  exchange.headers = {{L"Connection: close\r\n", 0}, {L"Content-Length: 12\r\n", 0}};
  EXPECT_EQ(exchange.Header(L"Content-Length"), L"12");
  EXPECT_EQ(exchange.Header(L"Connection"), L"close");
  EXPECT_EQ(exchange.Header(L"Content-Type"), std::nullopt);
}

}  // namespace
}  // namespace sim
