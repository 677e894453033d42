#include "payload/integer_text.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrane {
namespace {

constexpr int32_t kUnchanged = 0x5EED;

struct ConversionCase {
  std::string text;
  bool converts;
  int32_t value;
};

void ExpectConversions(const ConversionCase* begin, const ConversionCase* end) {
  for (const ConversionCase* c = begin; c != end; ++c) {
    int32_t value = kUnchanged;
    EXPECT_EQ(TextToInteger(c->text, &value), c->converts) << "\"" << c->text << "\"";
    EXPECT_EQ(value, c->converts ? c->value : kUnchanged) << "\"" << c->text << "\"";
  }
}

TEST(IntegerText, DecimalNumbersWithinTheSigned32BitRange) {
  const ConversionCase cases[] = {
      {"12", true, 12},
      {"0", true, 0},
      {"007", true, 7},
      {"  12", true, 12},
      {"+5", true, 5},
      {"-5", true, -5},
      {"-0", true, 0},
      {"2147483647", true, 2147483647},
      {"+2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"00000000000000000000042", true, 42},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999999999999", false, 0},
      {"4294967308", false, 0},  // 2^32 + 12: must not wrap round to 12
  };
  ExpectConversions(std::begin(cases), std::end(cases));
}

TEST(IntegerText, HexadecimalNumbersKeepTheir32Bits) {
  const ConversionCase cases[] = {
      {"$1F", true, 31},
      {"x1f", true, 31},
      {"X1F", true, 31},
      {"0x10", true, 16},
      {"0X10", true, 16},
      {"$7FFFFFFF", true, 2147483647},
      {"$80000000", true, INT32_MIN},
      {"$FFFFFFFF", true, -1},
      {"$000000000000FFFFFFFF", true, -1},  // leading zeros are not significant
      {"-0x10", true, -16},
      {"+$10", true, 16},
      {"-$80000000", true, INT32_MIN},
      {"-$FFFFFFFF", true, 1},
      {"  $a", true, 10},
      {"0x123456789", false, 0},  // nine significant digits
      {"$100000000", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"-$", false, 0},
      {"$G", false, 0},
      {"$1G", false, 0},
      {"0x0x1", false, 0},
      {"$-1", false, 0},
  };
  ExpectConversions(std::begin(cases), std::end(cases));
}

TEST(IntegerText, AnythingElseFails) {
  const ConversionCase cases[] = {
      {"", false, 0},     {"   ", false, 0}, {"12 ", false, 0},  // trailing space
      {"\t12", false, 0},                                        // only 0x20 is skipped
      {"1 2", false, 0},  {"- 5", false, 0}, {"+-5", false, 0},
      {"+", false, 0},    {"-", false, 0},   {"1.5", false, 0},
      {"1,0", false, 0},  {"12a", false, 0}, {std::string("12\0", 3), false, 0},
      {"\xB9", false, 0},
  };
  ExpectConversions(std::begin(cases), std::end(cases));
}

}  // namespace
}  // namespace kestrane
