#pragma once
// Whole-message raw deflate over zlib, shared by both compression extensions. Each call creates and
// ends its own zlib stream; context takeover comes from priming it with the history of earlier plain
// bytes. Pure functions of their arguments: the caller owns the history of its direction.

#include <cstddef>

#include "common/Bytes.h"
#include "common/Exception.h"

namespace brz {

// A failure while compressing an outgoing message ("ZLib Error (%d)").
class EZCompressionError : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "EZCompressionError"; }
};

// A received message that does not decompress ("ZLib Error (%d)", or the size limit).
class EZDecompressionError : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "EZDecompressionError"; }
};

// Plain bytes kept per direction for priming the next stream.
inline constexpr size_t kDeflateHistorySize = 65536;
// Sync flush (00 00 FF FF) plus the final empty fixed block (03 00) that close every compressed message.
inline constexpr size_t kDeflateTailSize = 6;

struct TbrzDeflateParams {
  int Level = 1;
  int WindowBits = 15;  // 8..15
  int MemLevel = 9;     // 1..9
  // Prime with aHistory, and keep aHistory for the next message.
  bool ContextTakeOver = true;
};

// Compresses aData in place; an empty message becomes 00. Raises EZCompressionError.
void DeflateMessage(TBytes& aData, TBytes& aHistory, const TbrzDeflateParams& aParams);

// Decompresses aData in place (an empty payload stays empty); the output may not exceed aMaxSize bytes.
// A message that is corrupt or cut short raises EZDecompressionError.
void InflateMessage(TBytes& aData, TBytes& aHistory, bool aContextTakeOver, size_t aMaxSize);

// Removes the closing tail of a compressed message; an output of kDeflateTailSize bytes or fewer
// keeps all its bytes.
void RemoveDeflateTail(TBytes& aData);

// Keeps the last kDeflateHistorySize bytes of aHistory + aPlain in aHistory.
void AppendHistory(TBytes& aHistory, const TBytes& aPlain);

}  // namespace brz
