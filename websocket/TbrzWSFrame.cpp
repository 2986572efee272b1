#include "websocket/TbrzWSFrame.h"

#include <algorithm>
#include <limits>

#include "common/Encoding.h"
#include "common/Text.h"
#include "transport/TbrzSocketErrors.h"
#include "websocket/TbrzWSFrameMessages.h"

namespace brz {

uint8_t OpcodeWireValue(TOpcode op) {
  switch (op) {
    case TOpcode::opText: return 0x1;
    case TOpcode::opBinary: return 0x2;
    case TOpcode::opClose: return 0x8;
    case TOpcode::opPing: return 0x9;
    case TOpcode::opPong: return 0xA;
    case TOpcode::opContinuation:
    case TOpcode::opNone: break;
  }
  return 0x0;
}

bool IsControlOpcode(TOpcode op) {
  return op == TOpcode::opClose || op == TOpcode::opPing || op == TOpcode::opPong;
}

const char* OpcodeName(TOpcode op) {
  switch (op) {
    case TOpcode::opContinuation: return "continuation";
    case TOpcode::opText: return "text";
    case TOpcode::opBinary: return "binary";
    case TOpcode::opClose: return "close";
    case TOpcode::opPing: return "ping";
    case TOpcode::opPong: return "pong";
    case TOpcode::opNone: break;
  }
  return "none";
}

std::array<uint8_t, 4> TbrzWSMaskGenerator::Next() {
  std::array<uint8_t, 4> key{};
  for (auto& b : key) {
    // Dropping 255 leaves every byte uniform in 0..254.
    do {
      if (FNext == FPool.size()) {
        RandomFill(FPool.data(), FPool.size());
        FNext = 0;
      }
      b = FPool[FNext++];
    } while (b == 255);
  }
  return key;
}

int ApplyWSMask(uint8_t* data, size_t size, const std::array<uint8_t, 4>& key, int keyIndex) {
  size_t k = static_cast<size_t>(keyIndex) & 3u;
  for (size_t i = 0; i < size; ++i) {
    data[i] ^= key[k];
    k = (k + 1) & 3u;
  }
  return static_cast<int>(k);
}

TBytes BuildWSFrame(TOpcode opCode, bool fin, bool rsv1, const uint8_t* payload, size_t size,
                    const std::array<uint8_t, 4>* mask) {
  size_t lengthBytes = size < 126 ? 1 : (size <= 65535 ? 3 : 9);
  TBytes frame;
  frame.reserve(1 + lengthBytes + (mask ? 4 : 0) + size);
  uint8_t b0 = OpcodeWireValue(opCode);
  if (fin) b0 |= 0x80;
  if (rsv1) b0 |= 0x40;
  frame.push_back(b0);
  uint8_t maskBit = mask ? 0x80 : 0x00;
  if (size < 126) {
    frame.push_back(static_cast<uint8_t>(maskBit | size));
  } else if (size <= 65535) {
    frame.push_back(maskBit | 126);
    frame.push_back(static_cast<uint8_t>(size >> 8));
    frame.push_back(static_cast<uint8_t>(size));
  } else {
    frame.push_back(maskBit | 127);
    uint64_t n = size;
    for (int shift = 56; shift >= 0; shift -= 8) frame.push_back(static_cast<uint8_t>(n >> shift));
  }
  if (mask) frame.insert(frame.end(), mask->begin(), mask->end());
  size_t start = frame.size();
  if (size > 0) frame.insert(frame.end(), payload, payload + size);
  if (mask) ApplyWSMask(frame.data() + start, size, *mask);
  return frame;
}

std::vector<TbrzWSFramePlan> PlanWSMessage(TOpcode messageOpCode, size_t byteSize, size_t cutLength,
                                           size_t fragmentSize, TwsStreaming streaming) {
  std::vector<TbrzWSFramePlan> frames;
  switch (streaming) {
    case TwsStreaming::stmFirst:
      frames.push_back({messageOpCode, false, 0, byteSize});
      return frames;
    case TwsStreaming::stmContinue:
      frames.push_back({TOpcode::opContinuation, false, 0, byteSize});
      return frames;
    case TwsStreaming::stmLast:
      frames.push_back({TOpcode::opContinuation, true, 0, byteSize});
      return frames;
    case TwsStreaming::stmNone:
    case TwsStreaming::stmContinueAndLast:
      break;
  }
  TOpcode first = streaming == TwsStreaming::stmContinueAndLast ? TOpcode::opContinuation : messageOpCode;
  if (fragmentSize == 0 || cutLength <= fragmentSize || byteSize <= fragmentSize) {
    frames.push_back({first, true, 0, byteSize});
    return frames;
  }
  for (size_t offset = 0; offset < byteSize; offset += fragmentSize) {
    size_t piece = std::min(fragmentSize, byteSize - offset);
    bool last = offset + piece >= byteSize;
    frames.push_back({offset == 0 ? first : TOpcode::opContinuation, last, offset, piece});
  }
  return frames;
}

bool IsAcceptedCloseCode(int code) {
  return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) || (code >= 3000 && code <= 4999);
}

bool IsAcceptedUTF8(const uint8_t* data, size_t size) {
  if (IsValidUTF8(data, size)) return true;
  // The one accepted defect: a lone 0xF4 as the very last byte.
  return size > 0 && data[size - 1] == 0xF4 && IsValidUTF8(data, size - 1);
}

// --- Reader ---

void TbrzWSFrameReader::Reset() {
  FWSMessage.Clear();
  FWSControlCode.Clear();
  FCurrent = &FWSMessage;
  FFirstByte = 0;
  FLength64 = 0;
  FCloseCode = 0;
  FCloseReason.clear();
  FStopped = false;
  FMessageCompressed = false;
}

size_t TbrzWSFrameReader::Feed(const uint8_t* data, size_t count) {
  size_t used = 0;
  while (used < count && !FStopped) used += Step(data + used, count - used);
  return used;
}

void TbrzWSFrameReader::Violation(const char* message, int closeCode) {
  FStopped = true;
  FHandler.WSViolation(message, closeCode);
}

size_t TbrzWSFrameReader::Step(const uint8_t* data, size_t count) {
  TbrzWSMsg& m = *FCurrent;
  switch (m.FState) {
    case 0:
      HeaderByte0(data[0]);
      return 1;
    case 1:
      HeaderByte1(data[0]);
      return 1;
    case 2:
      FLength64 = (FLength64 << 8) | data[0];
      ++m.FPLState;
      if (m.FPLState == (m.FPayLoad == TPayload::pa16bits ? 2 : 8)) {
        m.FPLState = 0;
        // The remaining count is kept in a signed 32-bit integer: larger frames are refused.
        if (FLength64 > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
          Violation(msg::kWSFrameTooLarge, kWSCloseTooBig);
          return 1;
        }
        m.FPayLoadLength = static_cast<int32_t>(FLength64);
        AfterLength();
      }
      return 1;
    case 3:
      m.Mask[static_cast<size_t>(m.FMaskIndex)] = data[0];
      if (++m.FMaskIndex == 4) {
        m.FMaskIndex = 0;
        if (m.FPayLoadLength > 0) {
          m.FState = 4;
        } else {
          FrameComplete();
        }
      }
      return 1;
    case 4: {
      size_t take = std::min(count, static_cast<size_t>(m.FPayLoadLength));
      if (m.FOpCode == TOpcode::opClose) {
        size_t start = m.FReadBuffer.size();
        m.FReadBuffer.insert(m.FReadBuffer.end(), data, data + take);
        if (m.FReadMasked) m.FMaskIndex = ApplyWSMask(m.FReadBuffer.data() + start, take, m.Mask, m.FMaskIndex);
      } else {
        TbrzMemoryStream& s = m.Stream();
        size_t start = s.Size();
        s.SetPosition(start);
        s.Write(data, take);
        if (m.FReadMasked) m.FMaskIndex = ApplyWSMask(s.Memory() + start, take, m.Mask, m.FMaskIndex);
      }
      m.FPayLoadLength -= static_cast<int32_t>(take);
      if (m.FPayLoadLength == 0) FrameComplete();
      return take;
    }
    default:
      FStopped = true;
      return count;
  }
}

void TbrzWSFrameReader::HeaderByte0(uint8_t b) {
  FCloseCode = 0;
  FCloseReason.clear();
  FFirstByte = b;
  FLength64 = 0;
  bool fin = (b & 0x80) != 0;
  uint8_t op = b & 0x0F;
  switch (op) {
    case 0x0:
      // Continuation needs a data message in progress.
      if (FWSMessage.FOpCode == TOpcode::opNone) return Violation(msg::kWSContinuationWithoutMessage);
      FCurrent = &FWSMessage;
      FWSMessage.FContinuation = true;
      break;
    case 0x1:
    case 0x2:
      // A new data message while the previous one still waits for its final fragment (a control frame
      // may have come in between, so the data message itself is checked).
      if (FWSMessage.FOpCode != TOpcode::opNone) {
        return Violation(op == 0x1 ? msg::kWSTextAfterContinuation : msg::kWSBinaryAfterContinuation);
      }
      FCurrent = &FWSMessage;
      FWSMessage.FContinuation = false;
      FWSMessage.FOpCode = op == 0x1 ? TOpcode::opText : TOpcode::opBinary;
      break;
    case 0x8:
    case 0x9:
    case 0xA:
      FWSControlCode.Clear();
      FWSControlCode.FOpCode = op == 0x8 ? TOpcode::opClose : (op == 0x9 ? TOpcode::opPing : TOpcode::opPong);
      FCurrent = &FWSControlCode;
      break;
    default:
      // Reserved opcodes 0x3-0x7 and 0xB-0xF.
      return Violation(msg::kWSInvalidOpCode);
  }
  TbrzWSMsg& m = *FCurrent;
  m.FFragmented = !fin;
  bool negotiated = FCompression && FCompression->ExtensionNegotiated();
  // RSV bits need a negotiated extension (checked on every frame).
  if ((b & 0x70) != 0 && !negotiated) return Violation(msg::kWSInvalidRSV);
  // The compression extensions define RSV1 alone, and only on the first frame of a data message.
  if ((b & 0x30) != 0 || ((b & 0x40) != 0 && (IsControlOpcode(m.FOpCode) || m.FContinuation))) {
    return Violation(msg::kWSInvalidRSVExtension);
  }
  if (!IsControlOpcode(m.FOpCode) && !m.FContinuation) {
    FMessageCompressed = (b & 0x40) != 0;
    if (FCompression) FCompression->DecodeHeader(b);
  }
  // Control frames must not be fragmented.
  if (IsControlOpcode(m.FOpCode) && !fin) return Violation(msg::kWSControlFragmented);
  m.FState = 1;
}

void TbrzWSFrameReader::HeaderByte1(uint8_t b) {
  TbrzWSMsg& m = *FCurrent;
  m.FReadMasked = (b & 0x80) != 0;
  m.FMaskIndex = 0;
  // Server side: client frames must be masked.
  if (!m.FReadMasked && FOptions.RequireMasked) return Violation(msg::kWSNotMasked);
  uint8_t len = b & 0x7F;
  if (len >= 126 && IsControlOpcode(m.FOpCode)) return Violation(msg::kWSControlTooLong);
  if (len == 126) {
    m.FPayLoad = TPayload::pa16bits;
    m.FPLState = 0;
    m.FState = 2;
  } else if (len == 127) {
    m.FPayLoad = TPayload::pa64bits;
    m.FPLState = 0;
    m.FState = 2;
  } else {
    m.FPayLoad = TPayload::pa7bits;
    m.FPayLoadLength = len;
    AfterLength();
  }
}

void TbrzWSFrameReader::AfterLength() {
  TbrzWSMsg& m = *FCurrent;
  // The body held for one message is capped, so endless fragments cannot grow memory without bound.
  if (m.StreamSize() + static_cast<size_t>(m.FPayLoadLength) > FOptions.MaxMessageSize) {
    return Violation(msg::kWSMessageTooLarge, kWSCloseTooBig);
  }
  if (m.FReadMasked) {
    m.FState = 3;
  } else if (m.FPayLoadLength > 0) {
    m.FState = 4;
  } else {
    FrameComplete();
  }
}

void TbrzWSFrameReader::FrameComplete() {
  TbrzWSMsg& m = *FCurrent;
  m.FState = 0;
  if (m.FOpCode == TOpcode::opClose) {
    TBytes payload = std::move(m.FReadBuffer);
    m.FReadBuffer.clear();
    return CloseFrame(payload);
  }
  if (IsControlOpcode(m.FOpCode)) return Deliver(m);
  bool fin = !m.FFragmented;
  // The fragments of a compressed message are pieces of one deflate stream and mean nothing alone:
  // the fragment hook gets the whole message once, decompressed, as its last fragment.
  if (FMessageCompressed && FOptions.FragmentedMessages != TwsFragmentedMessages::frgOnlyBuffer) {
    if (!fin) return;
    Inflate(m);
    TbrzMemoryStream& s = m.Stream();
    s.SetPosition(0);
    FHandler.WSFragment(s, m.FOpCode, false);
    if (FOptions.FragmentedMessages == TwsFragmentedMessages::frgAll) return Deliver(m, false);
    m.Clear();
    return;
  }
  switch (FOptions.FragmentedMessages) {
    case TwsFragmentedMessages::frgOnlyBuffer:
      if (fin) Deliver(m);
      break;
    case TwsFragmentedMessages::frgOnlyFragmented: {
      TbrzMemoryStream& s = m.Stream();
      s.SetPosition(0);
      FHandler.WSFragment(s, m.FOpCode, !fin);
      if (fin) {
        m.Clear();
      } else {
        m.ClearStream();
      }
      break;
    }
    case TwsFragmentedMessages::frgAll: {
      TbrzMemoryStream& s = m.Stream();
      s.SetPosition(0);
      FHandler.WSFragment(s, m.FOpCode, !fin);
      s.SetPosition(s.Size());
      if (fin) Deliver(m);
      break;
    }
  }
}

bool TbrzWSFrameReader::DecodeText(const TbrzMemoryStream& stream, std::string& text) {
  // Text must be UTF-8 when validation is on.
  if (FOptions.ValidateUTF8 && !IsAcceptedUTF8(stream.Memory(), stream.Size())) {
    Violation(msg::kWSInvalidUTF8, kWSCloseInvalidData);
    return false;
  }
  text = BytesToUTF8Text(stream.Memory(), stream.Size());
  return true;
}

void TbrzWSFrameReader::Inflate(TbrzWSMsg& message) {
  TbrzMemoryStream& body = message.Stream();
  if (IsControlOpcode(message.FOpCode) || !FCompression || body.Size() == 0) return;
  try {
    FCompression->Decompress(body);
  } catch (const std::exception& e) {
    FStopped = true;
    throw TbrzWSException(FormatMsg(msg::kWSErrorInflating, e.what()));
  }
}

void TbrzWSFrameReader::Deliver(TbrzWSMsg& message, bool inflate) {
  TOpcode op = message.FOpCode;
  TbrzMemoryStream& body = message.Stream();
  if (inflate) Inflate(message);
  body.SetPosition(0);
  switch (op) {
    case TOpcode::opText: {
      std::string text;
      if (!DecodeText(body, text)) return;
      message.Clear();
      FHandler.WSText(text);
      return;
    }
    case TOpcode::opBinary: {
      // The handler sees the body before the message is cleared.
      FHandler.WSBinary(body);
      message.Clear();
      return;
    }
    case TOpcode::opPing: {
      TBytes payload = body.ToBytes();
      message.Clear();
      FHandler.WSPing(payload);
      return;
    }
    case TOpcode::opPong: {
      std::string text = BytesToUTF8Text(body.Bytes());
      message.Clear();
      FHandler.WSPong(text);
      return;
    }
    default:
      message.Clear();
      return;
  }
}

void TbrzWSFrameReader::CloseFrame(const TBytes& payload) {
  FWSControlCode.Clear();
  // A close code takes two bytes.
  if (payload.size() == 1) return Violation(msg::kWSInvalidCloseLength);
  if (payload.size() >= 2) FCloseCode = (payload[0] << 8) | payload[1];
  if (payload.size() == 2 && !IsAcceptedCloseCode(FCloseCode)) return Violation(msg::kWSInvalidCloseCode);
  if (payload.size() > 2) {
    const uint8_t* reason = payload.data() + 2;
    size_t n = payload.size() - 2;
    // The reason is text: UTF-8 when validation is on.
    if (FOptions.ValidateUTF8 && !IsAcceptedUTF8(reason, n)) return Violation(msg::kWSInvalidUTF8, kWSCloseInvalidData);
    FCloseReason = BytesToUTF8Text(reason, n);
  }
  FStopped = true;
  FHandler.WSClose(FCloseCode, FCloseReason);
}

// --- Hixie-76 ---

TBytes BuildHixie76Text(const std::string& text) {
  TBytes out;
  out.reserve(text.size() + 2);
  out.push_back(0x00);
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0xFF);
  return out;
}

TBytes BuildHixie76Close() { return TBytes{0xFF, 0x00}; }

void TbrzWSHixie76Reader::Reset() {
  FState = 0;
  FText.clear();
  FStopped = false;
}

size_t TbrzWSHixie76Reader::Feed(const uint8_t* data, size_t count) {
  size_t i = 0;
  while (i < count && !FStopped) {
    uint8_t b = data[i++];
    switch (FState) {
      case 0:
        if (b == 0x00) {
          FState = 1;
        } else if (b == 0xFF) {
          FState = 2;
        }
        break;
      case 1:
        if (b == 0xFF) {
          std::string text = BytesToUTF8Text(FText);
          FText.clear();
          FState = 0;
          FHandler.WSText(text);
        } else if (FText.size() >= FMaxMessageSize) {
          // A frame that never ends must not grow memory without bound.
          FStopped = true;
          FHandler.WSViolation(msg::kWSMessageTooLarge, kWSCloseTooBig);
        } else {
          FText.push_back(static_cast<char>(b));
        }
        break;
      default:
        FState = 0;
        if (b == 0x00) {
          FStopped = true;
          FHandler.WSClose(0, std::string());
        } else if (b == 0xFF) {
          FState = 2;
        }
        break;
    }
  }
  return i;
}

}  // namespace brz
