#include "common/TbrzThreadList.h"

#include <cinttypes>
#include <cstdio>

namespace brz {

std::string ListDuplicatesMessage(const void* address) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "List does not allow duplicates ($0%" PRIXPTR ")",
                reinterpret_cast<uintptr_t>(address));
  return buffer;
}

}  // namespace brz
