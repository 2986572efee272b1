#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <thread>

#include "common/Guid.h"
#include "common/Time.h"

namespace brz {
namespace {

TEST(Guid, NewGuidTextForm) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string g = NewGuidText();
    ASSERT_EQ(g.size(), 32u);
    for (char c : g) ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << g;
    EXPECT_EQ(g[12], '4');                                                 // version 4
    EXPECT_TRUE(g[16] == '8' || g[16] == '9' || g[16] == 'A' || g[16] == 'B');  // variant
    seen.insert(g);
  }
  EXPECT_EQ(seen.size(), 200u);
  const std::string braced = NewGuidString();
  ASSERT_EQ(braced.size(), 38u);
  EXPECT_EQ(braced.front(), '{');
  EXPECT_EQ(braced.back(), '}');
  EXPECT_EQ(braced[9], '-');
  EXPECT_EQ(braced[14], '-');
  EXPECT_EQ(braced[19], '-');
  EXPECT_EQ(braced[24], '-');
}

TEST(Time, TickCountIsMonotonicMilliseconds) {
  const uint64_t a = TickCount64();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const uint64_t b = TickCount64();
  EXPECT_GE(b - a, 15u);
  EXPECT_LT(b - a, 5000u);
}

TEST(Time, TickDiffTable) {
  struct Case {
    uint64_t Old, New;
    int64_t Diff;
  } cases[] = {
      {100, 250, 150},
      {250, 100, -150},
      {0x1'0000'0010ULL, 0x1'0000'0020ULL, 0x10},
      {0xFFFF'FFF0ULL, 0x1'0000'0010ULL, 0x10 - 0xFFFFFFF0LL},  // the 32-bit values are subtracted
      {0, 0xFFFF'FFFFULL, 0xFFFFFFFFLL},
  };
  for (const auto& c : cases) EXPECT_EQ(TickDiff(c.Old, c.New), c.Diff) << c.Old << " " << c.New;
}

TEST(Time, ApplicationPathEndsWithSeparator) {
  const std::string path = ApplicationPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), '/');
  EXPECT_EQ(path.front(), '/');
}

TEST(Time, TLSLibraryPathIsStored) {
  SetTLSLibraryPath("/opt/ssl/lib/");
  EXPECT_EQ(TLSLibraryPath(), "/opt/ssl/lib/");
  SetTLSLibraryPath("");
  EXPECT_EQ(TLSLibraryPath(), "");
}

TEST(Time, FormatDateTime) {
  TbrzDateTime t;
  t.Year = 2023;
  t.Month = 2;
  t.Day = 3;
  t.Hour = 4;
  t.Minute = 5;
  t.Second = 6;
  t.Millisecond = 7;
  EXPECT_EQ(FormatDateTime("yyyymmddhhnnsszzz", t), "20230203040506007");
  EXPECT_EQ(FormatDateTime("yy-mm-dd hh:nn:ss.zzz", t), "23-02-03 04:05:06.007");
  const std::string now = FormatLocalNow("yyyymmddhhnnsszzz");
  EXPECT_EQ(now.size(), 17u);
  for (char c : now) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)));
}

}  // namespace
}  // namespace brz
