#include <gtest/gtest.h>

#include "common/TbrzMemoryStream.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using test::Hex;

TEST(MemoryStream, WriteReadSeek) {
  TbrzMemoryStream s;
  EXPECT_EQ(s.Size(), 0u);
  EXPECT_EQ(s.Write(Hex("01 02 03")), 3u);
  EXPECT_EQ(s.Position(), 3u);
  EXPECT_EQ(s.Seek(0, TSeekOrigin::soBeginning), 0u);
  uint8_t buf[8] = {};
  EXPECT_EQ(s.Read(buf, 2), 2u);
  EXPECT_EQ(buf[1], 2);
  EXPECT_EQ(s.Read(buf, 8), 1u);
  EXPECT_EQ(s.Read(buf, 8), 0u);
  EXPECT_EQ(s.Seek(-1, TSeekOrigin::soEnd), 2u);
  EXPECT_EQ(s.Seek(-5, TSeekOrigin::soCurrent), 0u);  // clamped
  s.Seek(1);
  s.Write(Hex("AA BB CC"));
  EXPECT_EQ(s.Bytes(), Hex("01 AA BB CC"));
  EXPECT_EQ(s.ToString(), std::string("\x01\xAA\xBB\xCC"));
}

TEST(MemoryStream, WritePastEndZeroFills) {
  TbrzMemoryStream s;
  s.SetPosition(2);
  s.WriteByte(7);
  EXPECT_EQ(s.Bytes(), Hex("00 00 07"));
  s.SetPosition(10);
  EXPECT_TRUE(s.ReadBytes(4).empty());
}

TEST(MemoryStream, SetSizeAndClear) {
  TbrzMemoryStream s(Hex("01 02 03"));
  s.SetPosition(3);
  s.SetSize(5);
  EXPECT_EQ(s.Bytes(), Hex("01 02 03 00 00"));
  s.SetSize(1);
  EXPECT_EQ(s.Bytes(), Hex("01"));
  EXPECT_EQ(s.Position(), 3u);
  s.Memory()[0] = 9;
  EXPECT_EQ(s.Bytes(), Hex("09"));
  s.Clear();
  EXPECT_EQ(s.Size(), 0u);
  EXPECT_EQ(s.Position(), 0u);
}

TEST(MemoryStream, CopyFromAndCopiesAreIndependent) {
  TbrzMemoryStream a(Hex("01 02 03 04"));
  TbrzMemoryStream b;
  a.SetPosition(1);
  EXPECT_EQ(b.CopyFrom(a, 2), 2u);
  EXPECT_EQ(b.Bytes(), Hex("02 03"));
  EXPECT_EQ(a.Position(), 3u);
  EXPECT_EQ(b.CopyFrom(a, 0), 4u);  // 0: the whole source
  EXPECT_EQ(b.Bytes(), Hex("02 03 01 02 03 04"));
  TbrzMemoryStream c(b);
  c.Memory()[0] = 0xFF;
  EXPECT_EQ(b.Bytes()[0], 0x02);
  b.LoadFromBytes(Hex("05"));
  EXPECT_EQ(b.Position(), 0u);
  EXPECT_EQ(b.ReadBytes(9), Hex("05"));
}

}  // namespace
}  // namespace brz
