#pragma once
// The framework's own error: protocol violations and disconnects with a reason. Declared at the
// lowest layer that raises it (the connection's disconnect step).

#include <string>

#include "common/Exception.h"

namespace brz {

class TbrzWSException : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "TbrzWSException"; }
};

}  // namespace brz
