#include <gtest/gtest.h>

#include <stdexcept>

#include "common/Memory.h"
#include "common/TbrzMemoryStream.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using test::Hex;

// Records whether its owner's reference was already empty when it was destroyed.
struct TWatcher {
  std::unique_ptr<TWatcher>* Owner = nullptr;
  bool* SawEmpty = nullptr;
  ~TWatcher() { *SawEmpty = Owner->get() == nullptr; }
};

TEST(Memory, FreeAndClearEmptiesBeforeDestroying) {
  std::unique_ptr<TWatcher> ref = std::make_unique<TWatcher>();
  bool sawEmpty = false;
  ref->Owner = &ref;
  ref->SawEmpty = &sawEmpty;
  FreeAndClear(ref);
  EXPECT_EQ(ref, nullptr);
  EXPECT_TRUE(sawEmpty);
  FreeAndClear(ref);  // an empty reference is fine
  EXPECT_EQ(ref, nullptr);
}

struct TRaising {
  ~TRaising() noexcept(false) { throw std::runtime_error("destructor failed"); }
};

TEST(Memory, FreeQuietlySwallows) {
  std::unique_ptr<TRaising> ref(new TRaising);
  FreeQuietly(ref);
  EXPECT_EQ(ref, nullptr);
  std::shared_ptr<int> shared = std::make_shared<int>(1);
  FreeQuietly(shared);
  EXPECT_EQ(shared, nullptr);
  int calls = 0;
  RunQuietly([&] {
    ++calls;
    throw std::runtime_error("x");
  });
  EXPECT_EQ(calls, 1);
}

TEST(Memory, CopyBytes) {
  uint8_t src[4] = {1, 2, 3, 4};
  uint8_t dst[4] = {9, 9, 9, 9};
  CopyBytes(src, dst, 0);
  CopyBytes(src, dst, -1);
  EXPECT_EQ(dst[0], 9);
  CopyBytes(src, dst, 2);
  EXPECT_EQ(dst[0], 1);
  EXPECT_EQ(dst[1], 2);
  EXPECT_EQ(dst[2], 9);

  TBytes dest = Hex("AA");
  CopyBytes(Hex("01 02 03"), 1, dest, 1, 2);
  EXPECT_EQ(dest, Hex("AA 02 03"));
  EXPECT_THROW(CopyBytes(Hex("01"), 0, dest, 0, 2), std::out_of_range);
}

TEST(Memory, AppendBytes) {
  TBytes dest = Hex("01");
  AppendBytes(TBytes{}, dest);
  EXPECT_EQ(dest, Hex("01"));
  AppendBytes(Hex("02 03"), dest);
  EXPECT_EQ(dest, Hex("01 02 03"));
  AppendBytes(dest, dest);
  EXPECT_EQ(dest, Hex("01 02 03 01 02 03"));
  AppendBytes(std::string_view("A"), dest);
  EXPECT_EQ(dest.back(), 'A');
}

TEST(Memory, KeepLastBytes) {
  TbrzMemoryStream stream(Hex("01 02 03 04 05"));
  stream.SetPosition(5);
  KeepLastBytes(stream, 2);
  EXPECT_EQ(stream.Bytes(), Hex("04 05"));
  EXPECT_EQ(stream.Position(), 0u);
  KeepLastBytes(stream, 5);  // shorter than n: everything stays
  EXPECT_EQ(stream.Bytes(), Hex("04 05"));
  KeepLastBytes(stream, 0);
  EXPECT_EQ(stream.Size(), 0u);
}

}  // namespace
}  // namespace brz
