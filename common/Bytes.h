#pragma once
// The growable byte array used on every wire-facing interface.

#include <cstdint>
#include <vector>

namespace brz {

using TBytes = std::vector<uint8_t>;

}  // namespace brz
