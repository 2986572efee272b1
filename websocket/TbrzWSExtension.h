#pragma once
// The two compression extensions. An object holds settings (copied by Assign and by copying) and,
// once negotiated on a connection, state (Active, the compressed mark, the histories) that is never
// copied. The send side (EncodeHeader, DeflateFrame, the send history) runs under the connection's main
// lock, the receive side (DecodeHeader, InflateFrame, the receive history, the mark) on the read thread;
// the two touch disjoint state, so they may run at the same time. Settings change only before that.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/Bytes.h"
#include "websocket/TbrzWSExtensionDeflate.h"

namespace brz {

enum class TwsApplicationMode : uint8_t { appNone, appServer, appClient };

// Bound on the plain size of one received message, against decompression bombs.
inline constexpr size_t kDefaultMaxInflatedSize = 64u * 1024u * 1024u;

class TbrzWSExtensions;

class TbrzWSExtension_Base {
 public:
  TbrzWSExtension_Base() = default;
  virtual ~TbrzWSExtension_Base() = default;

  // Copies the settings (Enabled, Mode, MaxInflatedSize); never the state.
  virtual void Assign(const TbrzWSExtension_Base& aSource);
  // "Sec-WebSocket-Extensions: " + HeaderExtension().
  virtual std::string GetHeaderExtension() const;
  // True when aExtension (one item of the peer's value) names this extension; may adopt its parameters.
  virtual bool DecodeExtension(const std::string& aExtension);
  // Notes RSV1 of a received header byte as the compressed mark, on the first frame of a data message.
  virtual void DecodeHeader(uint8_t aByte);
  // Sets RSV1 on the header byte of the first frame of a data message while active.
  virtual void EncodeHeader(uint8_t& aByte) const;
  // Virtual constructor: a new object of the same class with default settings and no state.
  virtual std::unique_ptr<TbrzWSExtension_Base> Create() const = 0;
  virtual std::string GetName() const = 0;
  // Compress / decompress a whole message in place.
  virtual void DeflateFrame(TBytes& aStream) = 0;
  virtual void InflateFrame(TBytes& aStream) = 0;

  bool Active() const { return FActive; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool aValue) { FEnabled = aValue; }
  TwsApplicationMode Mode() const { return FMode; }
  void SetMode(TwsApplicationMode aValue) { FMode = aValue; }
  // The text after "Sec-WebSocket-Extensions: " (the answer, once a server decoded an offer).
  const std::string& HeaderExtension() const { return FHeaderExtension; }
  // True when the message being received was marked compressed.
  bool MessageCompressed() const { return FMessageCompressed; }
  size_t MaxInflatedSize() const { return FMaxInflatedSize; }
  void SetMaxInflatedSize(size_t aValue) { FMaxInflatedSize = aValue; }

 protected:
  // Copies settings only (see Assign).
  TbrzWSExtension_Base(const TbrzWSExtension_Base& aSource) { Assign(aSource); }
  TbrzWSExtension_Base& operator=(const TbrzWSExtension_Base& aSource) {
    if (this != &aSource) Assign(aSource);
    return *this;
  }
  // Forgets what an earlier negotiation left behind.
  void ResetState();

  bool FActive = false;
  bool FEnabled = false;
  TwsApplicationMode FMode = TwsApplicationMode::appNone;
  std::string FHeaderExtension;
  bool FMessageCompressed = false;
  TBytes FDefStream;  // plain bytes sent (send side)
  TBytes FInfStream;  // plain bytes received (receive side)
  size_t FMaxInflatedSize = kDefaultMaxInflatedSize;

 private:
  friend class TbrzWSExtensions;
};

// RFC 7692 permessage-deflate.
class TbrzWSExtension_PerMessage_Deflate : public TbrzWSExtension_Base {
 public:
  TbrzWSExtension_PerMessage_Deflate() = default;
  TbrzWSExtension_PerMessage_Deflate(const TbrzWSExtension_PerMessage_Deflate& aSource)
      : TbrzWSExtension_Base() {
    Assign(aSource);
  }
  TbrzWSExtension_PerMessage_Deflate& operator=(const TbrzWSExtension_PerMessage_Deflate& aSource) {
    if (this != &aSource) Assign(aSource);
    return *this;
  }

  void Assign(const TbrzWSExtension_Base& aSource) override;
  bool DecodeExtension(const std::string& aExtension) override;
  std::unique_ptr<TbrzWSExtension_Base> Create() const override;
  // "permessage-deflate; client_max_window_bits" in appClient mode, "permessage-deflate" otherwise.
  std::string GetName() const override;
  void DeflateFrame(TBytes& aStream) override;
  void InflateFrame(TBytes& aStream) override;
  // The client's offer value (without the header name).
  std::string OfferText() const;

  int ServerMaxWindowBits() const { return FServerMaxWindowBits; }
  void SetServerMaxWindowBits(int aValue);
  bool ServerNoContextTakeOver() const { return FServerNoContextTakeOver; }
  void SetServerNoContextTakeOver(bool aValue) { FServerNoContextTakeOver = aValue; }
  int ClientMaxWindowBits() const { return FClientMaxWindowBits; }
  void SetClientMaxWindowBits(int aValue);
  bool ClientNoContextTakeOver() const { return FClientNoContextTakeOver; }
  void SetClientNoContextTakeOver(bool aValue) { FClientNoContextTakeOver = aValue; }
  // 1..9 (zlib's memory level for compression).
  int MemLevel() const { return FMemLevel; }
  void SetMemLevel(int aValue);

  // What this side uses when it compresses: window bits and whether the history primes the stream.
  int DeflateWindowBits() const;
  bool DeflateContextTakeOver() const;
  // Whether the peer's messages may refer to earlier ones (the receive history primes inflation).
  bool InflateContextTakeOver() const;

 private:
  int FServerMaxWindowBits = 15;
  bool FServerNoContextTakeOver = false;
  int FClientMaxWindowBits = 15;
  bool FClientNoContextTakeOver = false;
  int FMemLevel = 9;
};

// The older x-webkit-deflate-frame: one window size both ways, histories always used.
class TbrzWSExtension_DeflateFrame : public TbrzWSExtension_Base {
 public:
  TbrzWSExtension_DeflateFrame();
  TbrzWSExtension_DeflateFrame(const TbrzWSExtension_DeflateFrame& aSource);
  TbrzWSExtension_DeflateFrame& operator=(const TbrzWSExtension_DeflateFrame& aSource) {
    if (this != &aSource) Assign(aSource);
    return *this;
  }

  void Assign(const TbrzWSExtension_Base& aSource) override;
  bool DecodeExtension(const std::string& aExtension) override;
  std::unique_ptr<TbrzWSExtension_Base> Create() const override;
  std::string GetName() const override;
  void DeflateFrame(TBytes& aStream) override;
  void InflateFrame(TBytes& aStream) override;

  int WindowBits() const { return FWindowBits; }
  void SetWindowBits(int aValue);

 private:
  int FWindowBits = 15;
};

// Raises "Invalid Value for WindowBits %d" unless 8 <= aValue <= 15.
void CheckWindowBits(int aValue);

}  // namespace brz
