#include "common/TbrzThreadList.h"

#include <cstdio>

#include "common/CommonMessages.h"

namespace brz {

std::string ListDuplicatesMessage(const void* address) {
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, kListDuplicatesFormat,
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)));
  return buffer;
}

}  // namespace brz
