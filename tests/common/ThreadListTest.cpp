#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "common/TbrzCriticalSection.h"
#include "common/TbrzThreadList.h"

namespace brz {
namespace {

TEST(CriticalSection, RecursiveAndTry) {
  TbrzCriticalSection cs;
  cs.Acquire();
  EXPECT_TRUE(cs.TryAcquire());  // the same thread may enter again
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = cs.TryAcquire(); }).join();
  EXPECT_FALSE(otherGotIt);
  cs.Release();
  cs.Release();
  std::thread([&] {
    otherGotIt = cs.TryAcquire();
    if (otherGotIt) cs.Release();
  }).join();
  EXPECT_TRUE(otherGotIt);
}

TEST(ThreadList, DuplicateRules) {
  int a = 0, b = 0;
  TbrzThreadList<int*> list;
  EXPECT_EQ(list.Duplicates(), TDuplicates::dupIgnore);
  EXPECT_EQ(list.ListType(), TbrzThreadListType::tdlThreadDictionary);
  EXPECT_TRUE(list.IsEmpty());
  list.Add(&a);
  list.Add(&a);  // ignored
  list.Add(&b);
  EXPECT_EQ(list.ListCount(), 2u);

  list.SetDuplicates(TDuplicates::dupAccept);
  list.Add(&a);
  EXPECT_EQ(list.ListCount(), 3u);

  list.SetDuplicates(TDuplicates::dupError);
  try {
    list.Add(&b);
    FAIL() << "no exception";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), ListDuplicatesMessage(&b));
    EXPECT_EQ(e.Message().rfind("List does not allow duplicates ($0", 0), 0u);
    EXPECT_EQ(e.Message().back(), ')');
  }
  EXPECT_EQ(list.ListCount(), 3u);
  int c = 0;
  list.Add(&c);  // a new item is still accepted
  EXPECT_EQ(list.ListCount(), 4u);
}

TEST(ThreadList, RemoveDeleteAndDirection) {
  int a = 0, b = 0;
  TbrzThreadList<int*> list;
  list.SetDuplicates(TDuplicates::dupAccept);
  list.Add(&a);
  list.Add(&b);
  list.Add(&a);
  list.AddKey(&b, "key");
  EXPECT_EQ(list.GetValue("key"), nullptr);
  // [a b a b]
  list.RemoveItem(&a, TDirection::FromEnd);  // [a b b]
  {
    auto& plain = list.LockList();
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_EQ(plain[0], &a);
    EXPECT_EQ(plain[2], &b);
    list.UnlockList();
  }
  list.Remove(&b);  // first occurrence: [a b]
  list.Delete(7);   // out of range: nothing
  EXPECT_EQ(list.ListCount(), 2u);
  list.DeleteKey(0, "key");  // [b]
  EXPECT_TRUE(list.Contains(&b));
  EXPECT_FALSE(list.Contains(&a));
  list.Clear();
  EXPECT_TRUE(list.IsEmpty());
}

TEST(ThreadList, SharedItemsAndThreads) {
  TbrzThreadList<std::shared_ptr<int>> list;
  list.SetDuplicates(TDuplicates::dupAccept);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&list] {
      for (int i = 0; i < 500; ++i) {
        auto p = std::make_shared<int>(i);
        list.Add(p);
        if (i % 2) list.Remove(p);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(list.ListCount(), 4u * 250u);
  auto p = std::make_shared<int>(1);
  list.SetDuplicates(TDuplicates::dupError);
  list.Add(p);
  EXPECT_THROW(list.Add(p), EListError);
}

}  // namespace
}  // namespace brz
