#include "common/TbrzBurst.h"

#include <utility>
#include <vector>

namespace brz {

namespace {

thread_local int tDepth = 0;
thread_local std::vector<void (*)()> tHooks;

void RunHooks() {
  // A hook may open a burst of its own and register again: run until none is left.
  while (!tHooks.empty()) {
    std::vector<void (*)()> hooks = std::exchange(tHooks, {});
    for (auto* hook : hooks) hook();
  }
}

}  // namespace

TbrzBurst::TbrzBurst() { ++tDepth; }

TbrzBurst::~TbrzBurst() {
  if (--tDepth == 0) RunHooks();
}

void TbrzBurst::HandOnNow() { RunHooks(); }

bool TbrzBurst::Active() { return tDepth > 0; }

bool TbrzBurst::Pending() { return !tHooks.empty(); }

void TbrzBurst::AtEnd(void (*hook)()) { tHooks.push_back(hook); }

}  // namespace brz
