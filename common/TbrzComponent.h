#pragma once
// The two component bases.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/TbrzCriticalSection.h"

namespace brz {

inline constexpr const char* kComponentVersion = "2023.2.0";

// Base of the framework's client and server components: component state tests and the version text.
// Destructors of derived components call MarkDestroying() first, so that work done while tearing down sees
// IsDestroying().
class TbrzComponent_Base {
 public:
  enum TComponentStateFlag : uint32_t { csDesigning = 1, csDestroying = 2, csLoading = 4 };

  TbrzComponent_Base() = default;
  virtual ~TbrzComponent_Base() = default;
  TbrzComponent_Base(const TbrzComponent_Base&) = delete;
  TbrzComponent_Base& operator=(const TbrzComponent_Base&) = delete;

  bool IsDesigning() const { return (FComponentState.load() & csDesigning) != 0; }
  bool IsDestroying() const { return (FComponentState.load() & csDestroying) != 0; }
  bool IsLoading() const { return (FComponentState.load() & csLoading) != 0; }
  uint32_t ComponentState() const { return FComponentState.load(); }
  std::string Version() const { return kComponentVersion; }

 protected:
  void MarkDestroying() { FComponentState.fetch_or(csDestroying); }
  void SetComponentState(uint32_t flags) { FComponentState.store(flags); }

 private:
  std::atomic<uint32_t> FComponentState{0};
};

// A component holding one lock (created with the component, deleted on destruction) with enter and leave.
class TbrzThreadSafeComponent {
 public:
  TbrzThreadSafeComponent() : FCS(std::make_unique<TbrzCriticalSection>()) {}
  virtual ~TbrzThreadSafeComponent() = default;
  TbrzThreadSafeComponent(const TbrzThreadSafeComponent&) = delete;
  TbrzThreadSafeComponent& operator=(const TbrzThreadSafeComponent&) = delete;

  void Enter() const { FCS->Acquire(); }
  void Leave() const { FCS->Release(); }
  bool TryEnter() const { return FCS->TryAcquire(); }
  // For RAII guards: TbrzLock guard(component.CS());
  TbrzCriticalSection& CS() const { return *FCS; }

 private:
  std::unique_ptr<TbrzCriticalSection> FCS;
};

}  // namespace brz
