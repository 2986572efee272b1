#include "websocket/TbrzWSMsg.h"

namespace brz {

TbrzMemoryStream& TbrzWSMsg::Stream() {
  if (!FStream) FStream = std::make_unique<TbrzMemoryStream>();
  return *FStream;
}

void TbrzWSMsg::Clear() {
  FContinuation = false;
  FFragmented = false;
  FMaskIndex = 0;
  FOpCode = TOpcode::opNone;
  FPayLoad = TPayload::pa7bits;
  FPayLoadLength = 0;
  FPLState = 0;
  FReadMasked = false;
  FState = 0;
  Mask = {};
  ClearStream();
  ClearReadBuffer();
}

}  // namespace brz
