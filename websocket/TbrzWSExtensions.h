#pragma once
// The compression extensions of one component (settings) or one connection (settings and state).
// A connection takes its own copy (copy constructor or Assign: settings only), negotiates on it and keeps
// its histories; at most one extension is active, permessage-deflate winning over deflate-frame.
// Thread rules: see TbrzWSExtension.h (send side under the main lock, receive side on the read thread).

#include <cstdint>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "websocket/TbrzWSExtension.h"

namespace brz {

class TbrzWSExtensions {
 public:
  TbrzWSExtensions() = default;
  TbrzWSExtensions(const TbrzWSExtensions& aSource) { Assign(aSource); }
  TbrzWSExtensions& operator=(const TbrzWSExtensions& aSource) {
    if (this != &aSource) Assign(aSource);
    return *this;
  }

  // Copies the mode and both extensions' settings; never what is active, marks or histories.
  void Assign(const TbrzWSExtensions& aSource);

  // Client mode: one offer line per enabled extension. Server mode: one answer line per active extension.
  // Each line begins "Sec-WebSocket-Extensions: ".
  void WriteHeader(std::vector<std::string>& aHeader) const;
  // Decides what is active from the peer's Sec-WebSocket-Extensions value (the items are comma-separated).
  // Raises for a window size outside 8..15 (or not a number): the handshake then fails.
  void DecodeExtensions(const std::string& aExtensions);

  // Either extension active.
  bool Active() const { return FPerMessage_Deflate.Active() || FDeflateFrame.Active(); }
  bool ExtensionNegotiated() const { return FExtensionNegotiated; }
  // Names of the active extensions.
  std::vector<std::string> List() const;

  // Sending: RSV1 on the header byte of a data message's first frame while active.
  void EncodeHeader(uint8_t& aByte) const;
  // Receiving: the first-frame header byte of a data message sets the message's compressed mark.
  void DecodeHeader(uint8_t aByte);
  // True when the message being received is marked compressed by the active extension.
  bool MessageCompressed() const;
  // Compresses a whole message in place with the active extension (nothing active: unchanged).
  // Raises EZCompressionError.
  void WriteStream(TBytes& aStream);
  // Decompresses a whole message in place when it is marked compressed. Raises EZDecompressionError.
  void ReadStream(TBytes& aStream);

  TbrzWSExtension_PerMessage_Deflate& PerMessage_Deflate() { return FPerMessage_Deflate; }
  const TbrzWSExtension_PerMessage_Deflate& PerMessage_Deflate() const { return FPerMessage_Deflate; }
  TbrzWSExtension_DeflateFrame& DeflateFrame() { return FDeflateFrame; }
  const TbrzWSExtension_DeflateFrame& DeflateFrame() const { return FDeflateFrame; }
  TwsApplicationMode Mode() const { return FMode; }
  // Sets the mode of both extensions as well.
  void SetMode(TwsApplicationMode aValue);
  // Sets the bound of both extensions.
  void SetMaxInflatedSize(size_t aValue);

 private:
  TbrzWSExtension_Base* ActiveExtension();
  const TbrzWSExtension_Base* ActiveExtension() const;

  bool FExtensionNegotiated = false;
  TbrzWSExtension_DeflateFrame FDeflateFrame;
  TwsApplicationMode FMode = TwsApplicationMode::appNone;
  TbrzWSExtension_PerMessage_Deflate FPerMessage_Deflate;
};

}  // namespace brz
