#include "websocket/TbrzWSExtensionDeflate.h"

#include <zlib.h>

#include <algorithm>
#include <string>

#include "websocket/ExtensionMessages.h"

namespace brz {

namespace {

// Output grows in pieces of this size.
constexpr size_t kOutputPiece = 65536;
constexpr uint8_t kTail[kDeflateTailSize] = {0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00};

std::string FormatCode(const char* aFormat, long long aValue) {
  std::string text(aFormat);
  const size_t at = text.find("%d");
  if (at != std::string::npos) text.replace(at, 2, std::to_string(aValue));
  return text;
}

[[noreturn]] void RaiseDeflate(int aCode) { throw EZCompressionError(FormatCode(kMsgZLibError, aCode)); }
[[noreturn]] void RaiseInflate(int aCode) { throw EZDecompressionError(FormatCode(kMsgZLibError, aCode)); }

// Ends the zlib stream on every path out.
struct TDeflater {
  z_stream Z{};
  bool Open = false;
  ~TDeflater() {
    if (Open) deflateEnd(&Z);
  }
};
struct TInflater {
  z_stream Z{};
  bool Open = false;
  ~TInflater() {
    if (Open) inflateEnd(&Z);
  }
};

// Makes room for the next piece of output at the end of aOut.
void NextOutPiece(z_stream& aZ, TBytes& aOut, size_t& aProduced, size_t aPiece) {
  aOut.resize(aProduced + aPiece);
  aZ.next_out = aOut.data() + aProduced;
  aZ.avail_out = static_cast<uInt>(aPiece);
}

}  // namespace

void AppendHistory(TBytes& aHistory, const TBytes& aPlain) {
  if (aPlain.size() >= kDeflateHistorySize) {
    aHistory.assign(aPlain.end() - kDeflateHistorySize, aPlain.end());
    return;
  }
  aHistory.insert(aHistory.end(), aPlain.begin(), aPlain.end());
  if (aHistory.size() > kDeflateHistorySize)
    aHistory.erase(aHistory.begin(), aHistory.end() - kDeflateHistorySize);
}

void RemoveDeflateTail(TBytes& aData) {
  if (aData.size() > kDeflateTailSize) aData.resize(aData.size() - kDeflateTailSize);
}

void DeflateMessage(TBytes& aData, TBytes& aHistory, const TbrzDeflateParams& aParams) {
  // An empty message is compressed too: it becomes the single byte 00 (an empty stored block). Sent
  // empty but marked, a peer that keeps one stream open would take the tail it appends for the start
  // of a block and misread every later message.
  // zlib refuses a raw window of 8; its 9-bit window never reaches back more than 250 bytes, so a peer
  // inflating with 8 bits still reads the output.
  const int windowBits = std::max(aParams.WindowBits, 9);
  TDeflater d;
  int rc = deflateInit2(&d.Z, aParams.Level, Z_DEFLATED, -windowBits, aParams.MemLevel, Z_DEFAULT_STRATEGY);
  if (rc != Z_OK) RaiseDeflate(rc);
  d.Open = true;
  if (aParams.ContextTakeOver && !aHistory.empty()) {
    rc = deflateSetDictionary(&d.Z, aHistory.data(), static_cast<uInt>(aHistory.size()));
    if (rc != Z_OK) RaiseDeflate(rc);
  }

  TBytes out;
  size_t produced = 0;
  d.Z.next_in = aData.data();
  d.Z.avail_in = static_cast<uInt>(aData.size());
  // The loops always offer output room, so even Z_BUF_ERROR means no progress is possible: an error.
  do {
    NextOutPiece(d.Z, out, produced, kOutputPiece);
    rc = deflate(&d.Z, Z_SYNC_FLUSH);
    produced = out.size() - d.Z.avail_out;
    if (rc < 0) RaiseDeflate(rc);
  } while (d.Z.avail_in > 0 || d.Z.avail_out == 0);
  do {
    NextOutPiece(d.Z, out, produced, kOutputPiece);
    rc = deflate(&d.Z, Z_FINISH);
    produced = out.size() - d.Z.avail_out;
    if (rc < 0) RaiseDeflate(rc);
  } while (rc != Z_STREAM_END);
  out.resize(produced);

  if (aParams.ContextTakeOver) AppendHistory(aHistory, aData);
  RemoveDeflateTail(out);
  aData = std::move(out);
}

void InflateMessage(TBytes& aData, TBytes& aHistory, bool aContextTakeOver, size_t aMaxSize) {
  if (aData.empty()) return;
  aData.insert(aData.end(), std::begin(kTail), std::end(kTail));
  // The largest window reads every peer's output, also one that uses less than it announced.
  TInflater i;
  int rc = inflateInit2(&i.Z, -15);
  if (rc != Z_OK) RaiseInflate(rc);
  i.Open = true;
  if (aContextTakeOver && !aHistory.empty()) {
    rc = inflateSetDictionary(&i.Z, aHistory.data(), static_cast<uInt>(aHistory.size()));
    if (rc != Z_OK) RaiseInflate(rc);
  }

  TBytes out;
  size_t produced = 0;
  i.Z.next_in = aData.data();
  i.Z.avail_in = static_cast<uInt>(aData.size());
  // One byte beyond the limit tells a message that fits exactly from one that is too large.
  const size_t capacity = aMaxSize < SIZE_MAX ? aMaxSize + 1 : aMaxSize;
  for (;;) {
    if (i.Z.avail_out == 0) {
      const size_t piece = std::min(kOutputPiece, capacity - produced);
      if (piece == 0) throw EZDecompressionError(FormatCode(kMsgInflatedMessageTooLarge,
                                                            static_cast<long long>(aMaxSize)));
      NextOutPiece(i.Z, out, produced, piece);
    }
    rc = inflate(&i.Z, Z_NO_FLUSH);
    produced = out.size() - i.Z.avail_out;
    if (produced > aMaxSize)
      throw EZDecompressionError(FormatCode(kMsgInflatedMessageTooLarge, static_cast<long long>(aMaxSize)));
    if (rc == Z_STREAM_END) break;
    // A raw stream never asks for a dictionary; treat it like any other failure code.
    if (rc == Z_NEED_DICT) RaiseInflate(rc);
    if (rc < 0 && rc != Z_BUF_ERROR) RaiseInflate(rc);
    // All input consumed with room left but no end of stream: the message was cut short.
    if (i.Z.avail_in == 0 && i.Z.avail_out > 0) RaiseInflate(Z_BUF_ERROR);
  }
  // A peer may end its message with a final block of its own (and padding); what follows the end of the
  // stream, our tail included, is ignored as other peers do.
  out.resize(produced);

  if (aContextTakeOver) AppendHistory(aHistory, out);
  aData = std::move(out);
}

}  // namespace brz
