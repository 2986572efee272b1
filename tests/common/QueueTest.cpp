#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/TbrzQueue.h"

namespace brz {
namespace {

std::shared_ptr<TbrzQueueItemBase> Item(const std::string& id, int64_t order = 0) {
  return std::make_shared<TbrzQueueItemBase>(id, order);
}

std::string Ids(const TbrzQueueBase& q) {
  std::string out;
  for (size_t i = 0; i < q.Count(); ++i) out += q.GetItemByIndex(i)->ID() + ",";
  return out;
}

// An item that counts its destructions.
struct TCounted : TbrzQueueItemBase {
  TCounted(std::string id, std::atomic<int>& destroyed) : TbrzQueueItemBase(std::move(id)), FDestroyed(destroyed) {}
  ~TCounted() override { ++FDestroyed; }
  std::atomic<int>& FDestroyed;
};

TEST(Queue, ItemDefaults) {
  TbrzQueueItemBase item;
  EXPECT_EQ(item.Order(), 0);
  EXPECT_EQ(item.ID(), "");
  TbrzQueueNameItemBase named("chan", "id", 5);
  EXPECT_EQ(named.Queue(), "chan");
  EXPECT_EQ(named.ID(), "id");
  EXPECT_EQ(named.Order(), 5);
}

TEST(Queue, BaseLookUpAndDelete) {
  TbrzQueueBase q;
  EXPECT_FALSE(q.OwnObjects());
  q.AddItem(Item("a"));
  q.AddItem(Item("b"));
  q.AddItem(Item("a"));  // no duplicate test
  EXPECT_EQ(q.Count(), 3u);
  EXPECT_EQ(q.GetItem("b")->ID(), "b");
  EXPECT_EQ(q.GetItem("B"), nullptr);  // IDs compare exactly
  EXPECT_EQ(q.GetItem("zz"), nullptr);
  EXPECT_EQ(q.GetItemByIndex(3), nullptr);
  EXPECT_EQ(q.GetItem(size_t{1})->ID(), "b");
  EXPECT_TRUE(q.DeleteItem("a"));  // the first only
  EXPECT_EQ(Ids(q), "b,a,");
  EXPECT_FALSE(q.DeleteItem("x"));
  EXPECT_FALSE(q.DeleteItemByIndex(2));
  EXPECT_TRUE(q.DeleteItem(size_t{0}));
  EXPECT_EQ(Ids(q), "a,");
  q.Clear();
  EXPECT_EQ(q.Count(), 0u);
}

TEST(Queue, RemovingDropsTheQueuesReference) {
  std::atomic<int> destroyed{0};
  {
    TbrzQueueBase q;
    q.SetOwnObjects(true);
    q.AddItem(std::make_shared<TCounted>("a", destroyed));
    q.AddItem(std::make_shared<TCounted>("b", destroyed));
    auto held = q.GetItem("b");
    q.DeleteItem("a");
    EXPECT_EQ(destroyed.load(), 1);
    q.DeleteItem("b");
    EXPECT_EQ(destroyed.load(), 1);  // still held here
    EXPECT_EQ(held->ID(), "b");
    q.AddItem(std::make_shared<TCounted>("c", destroyed));
  }
  EXPECT_EQ(destroyed.load(), 3);  // destruction clears
}

TEST(Queue, FIFODropsOldest) {
  TbrzFIFOQueue q;
  EXPECT_EQ(q.MaxItems(), 0);
  q.SetMaxItems(2);
  q.AddItem(Item("A"));
  q.AddItem(Item("B"));
  q.AddItem(Item("C"));
  EXPECT_EQ(Ids(q), "B,C,");
  q.AddItem(Item("D"));
  EXPECT_EQ(Ids(q), "C,D,");

  TbrzFIFOQueue unbounded;
  for (int i = 0; i < 10; ++i) unbounded.AddItem(Item(std::to_string(i)));
  EXPECT_EQ(unbounded.Count(), 10u);
}

TEST(Queue, SortByOrder) {
  TbrzQueue q;
  q.AddItem(Item("c", 3));
  q.AddItem(Item("a", 1));
  q.AddItem(Item("b1", 2));
  q.AddItem(Item("b2", 2));
  q.SortByOrder(true);
  EXPECT_EQ(Ids(q), "a,b1,b2,c,");
  q.SortByOrder(false);
  EXPECT_EQ(Ids(q), "c,b1,b2,a,");
}

TEST(Queue, CacheQueue) {
  TbrzCacheQueue q;
  EXPECT_EQ(q.CacheSize(), 0);
  q.AddItem(Item("a"));
  q.AddItem(Item("b"));
  q.AddItem(Item("c"));
  EXPECT_EQ(q.Count(), 3u);
  EXPECT_EQ(q.GetItem("b")->ID(), "b");
  EXPECT_EQ(q.Cache().Count(), 0u);  // not caching

  q.SetCacheSize(2);
  EXPECT_EQ(q.GetItem("a")->ID(), "a");
  EXPECT_EQ(q.GetItem("b")->ID(), "b");
  EXPECT_EQ(q.GetItem("a")->ID(), "a");  // from the cache
  EXPECT_EQ(Ids(q.Cache()), "a,b,");
  EXPECT_EQ(q.GetItem("c")->ID(), "c");  // evicts the oldest cached item
  EXPECT_EQ(Ids(q.Cache()), "b,c,");
  EXPECT_EQ(q.GetItem("zz"), nullptr);

  EXPECT_TRUE(q.DeleteItem("c"));
  EXPECT_EQ(Ids(q.Cache()), "b,");
  EXPECT_EQ(Ids(q.Queue()), "a,b,");
  EXPECT_FALSE(q.DeleteItem("c"));
  EXPECT_EQ(q.GetItemByIndex(1)->ID(), "b");
  q.SetOwnObjects(true);
  EXPECT_TRUE(q.OwnObjects());
  EXPECT_FALSE(q.Cache().OwnObjects());
  q.Clear();
  EXPECT_EQ(q.Count(), 0u);
  EXPECT_EQ(q.Cache().Count(), 0u);
}

TEST(Queue, CacheQueueListGroups) {
  TbrzCacheQueueListBase list;
  list.SetGroupLevel(2);
  list.SetCacheSize(1);
  list.AddItem(Item("ab1"));
  list.AddItem(Item("ab2"));
  list.AddItem(Item("cd1"));
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.QueueCount(), 2u);
  EXPECT_EQ(list.GroupKey("ab1"), "ab");
  auto ab = list.GetQueue("ab");
  EXPECT_EQ(ab->Count(), 2u);
  EXPECT_EQ(ab->CacheSize(), 1);
  EXPECT_TRUE(ab->OwnObjects());
  EXPECT_EQ(list.GetItem("ab2")->ID(), "ab2");
  EXPECT_EQ(list.GetItem("cd1")->ID(), "cd1");
  EXPECT_EQ(list.GetItem("ef1"), nullptr);
  EXPECT_EQ(list.QueueCount(), 3u);  // the look-up created an empty group
  EXPECT_TRUE(list.DeleteItem("ab1"));
  EXPECT_FALSE(list.DeleteItem("ab1"));
  EXPECT_EQ(list.Count(), 2u);
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.QueueCount(), 0u);
}

TEST(Queue, CacheQueueListWithoutGroupLevel) {
  TbrzCacheQueueList list;
  EXPECT_EQ(list.GroupLevel(), 0);
  list.AddItem(Item("x1"));
  list.AddItem(Item("y1"));
  EXPECT_EQ(list.QueueCache().QueueCount(), 1u);  // one group with the empty key
  EXPECT_EQ(list.Count(), 2u);
  list.SetGroupLevel(1);
  list.SetCacheSize(4);
  list.AddItem(Item("z1"));
  EXPECT_EQ(list.QueueCache().QueueCount(), 2u);
  EXPECT_EQ(list.GetItem("z1")->ID(), "z1");
  EXPECT_TRUE(list.DeleteItem("z1"));
  EXPECT_EQ(list.Count(), 2u);
}

TEST(Queue, NamedQueues) {
  TbrzQueueNameListBase list;
  EXPECT_TRUE(list.OwnObjects());
  EXPECT_TRUE(list.AddItem(std::make_shared<TbrzQueueNameItemBase>("news", "1")));
  EXPECT_TRUE(list.AddItem(std::make_shared<TbrzQueueNameItemBase>("news", "2")));
  EXPECT_FALSE(list.AddItem(std::make_shared<TbrzQueueNameItemBase>("news", "1")));  // same ID twice
  EXPECT_TRUE(list.AddItem(std::make_shared<TbrzQueueNameItemBase>("sport", "1")));
  EXPECT_FALSE(list.AddItem(nullptr));
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.QueueCount(), 2u);
  EXPECT_EQ(list.GetQueuesDelimitedText(), "sport,news");
  EXPECT_TRUE(list.GetQueueByName("news")->OwnObjects());
  EXPECT_EQ(list.FindQueueByName("weather"), nullptr);
  EXPECT_EQ(list.GetQueueByName("weather")->Count(), 0u);  // created
  EXPECT_EQ(list.GetQueuesDelimitedText(), "weather,sport,news");

  EXPECT_TRUE(list.DeleteItem("news", "2"));
  EXPECT_TRUE(list.DeleteItem("news", "404"));  // the queue exists
  EXPECT_FALSE(list.DeleteItem("nowhere", "1"));
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_TRUE(list.DeleteItem("1"));  // from every queue
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_FALSE(list.DeleteItem("1"));
}

TEST(Queue, ConcurrentUse) {
  TbrzCacheQueueListBase list;
  list.SetGroupLevel(1);
  list.SetCacheSize(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&list, t] {
      for (int i = 0; i < 300; ++i) {
        const std::string id = std::string(1, static_cast<char>('a' + t)) + std::to_string(i);
        list.AddItem(Item(id));
        EXPECT_NE(list.GetItem(id), nullptr);
        if (i % 3 == 0) {
          EXPECT_TRUE(list.DeleteItem(id));
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(list.Count(), 4u * 200u);
}

}  // namespace
}  // namespace brz
