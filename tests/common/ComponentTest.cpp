#include <gtest/gtest.h>

#include <thread>
#include <type_traits>

#include "common/NotifyEvent.h"
#include "common/TbrzComponent.h"

namespace brz {
namespace {

TEST(NotifyEvent, OrdinalsFollowTheDeclaredOrder) {
  EXPECT_EQ(static_cast<int>(TwsNotifyEvent::neNoSync), 0);
  EXPECT_EQ(static_cast<int>(TwsNotifyEvent::neAsynchronous), 1);
  EXPECT_EQ(static_cast<int>(TwsNotifyEvent::neSynchronous), 2);
}

// A component that reports, from its destructor, what a clean-up path would see.
class TProbeComponent : public TbrzComponent_Base {
 public:
  explicit TProbeComponent(bool* destroyingSeen) : FDestroyingSeen(destroyingSeen) {}
  ~TProbeComponent() override {
    MarkDestroying();
    *FDestroyingSeen = IsDestroying();
  }
  void Load() { SetComponentState(csLoading); }

 private:
  bool* FDestroyingSeen;
};

TEST(Component, StateAndVersion) {
  bool destroyingSeen = false;
  {
    TProbeComponent component(&destroyingSeen);
    EXPECT_FALSE(component.IsDesigning());
    EXPECT_FALSE(component.IsDestroying());
    EXPECT_FALSE(component.IsLoading());
    component.Load();
    EXPECT_TRUE(component.IsLoading());
    EXPECT_EQ(component.Version(), "2023.2.0");
  }
  EXPECT_TRUE(destroyingSeen);
  EXPECT_FALSE(std::is_copy_constructible_v<TbrzComponent_Base>);
}

TEST(Component, ThreadSafeComponentLock) {
  TbrzThreadSafeComponent component;
  component.Enter();
  EXPECT_TRUE(component.TryEnter());  // recursive
  component.Leave();
  bool other = true;
  std::thread([&] { other = component.TryEnter(); }).join();
  EXPECT_FALSE(other);
  component.Leave();
  {
    TbrzLock guard(component.CS());
    EXPECT_TRUE(component.TryEnter());
    component.Leave();
  }
  std::thread([&] {
    other = component.TryEnter();
    if (other) component.Leave();
  }).join();
  EXPECT_TRUE(other);
}

}  // namespace
}  // namespace brz
