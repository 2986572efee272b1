#include <gtest/gtest.h>

#include "common/Convert.h"
#include "common/Exception.h"

namespace brz {
namespace {

TEST(Convert, StrToIntForms) {
  struct Case {
    const char* Text;
    int32_t Value;
  } cases[] = {{"0", 0}, {"42", 42}, {"-7", -7}, {"+5", 5}, {"$1F", 31}, {"0x10", 16}, {"2147483647", 2147483647}};
  for (const auto& c : cases) EXPECT_EQ(StrToInt(c.Text), c.Value) << c.Text;
}

TEST(Convert, StrToIntErrorMessage) {
  try {
    StrToInt("abc");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.ClassName(), "EConvertError");
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
  EXPECT_THROW(StrToInt(""), EConvertError);
  EXPECT_THROW(StrToInt(" 1"), EConvertError);
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  EXPECT_EQ(StrToIntDef("x", -1), -1);
}

}  // namespace
}  // namespace brz
