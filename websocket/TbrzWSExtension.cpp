#include "websocket/TbrzWSExtension.h"

#include <zlib.h>

#include <string_view>
#include <vector>

#include "common/Convert.h"
#include "common/Exception.h"
#include "websocket/ExtensionMessages.h"

namespace brz {

namespace {

constexpr uint8_t kRSV1 = 0x40;
constexpr uint8_t kOpcodeMask = 0x0F;
constexpr uint8_t kOpcodeText = 0x1;
constexpr uint8_t kOpcodeBinary = 0x2;

// Only the first frame of a text or binary message carries the compressed mark.
bool IsFirstDataFrame(uint8_t aByte) {
  const uint8_t opcode = aByte & kOpcodeMask;
  return opcode == kOpcodeText || opcode == kOpcodeBinary;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

bool ContainsNoCase(std::string_view aText, std::string_view aSub) {
  if (aSub.size() > aText.size()) return false;
  for (size_t i = 0; i + aSub.size() <= aText.size(); ++i)
    if (SameName(aText.substr(i, aSub.size()), aSub)) return true;
  return false;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Split(std::string_view aText, char aSeparator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = aText.find(aSeparator, start);
    parts.push_back(aText.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

// A window-bits parameter value; a quoted-string value is allowed as well as a token.
int ParseWindowBits(std::string_view aValue) {
  if (aValue.size() >= 2 && aValue.front() == '"' && aValue.back() == '"') aValue = aValue.substr(1, aValue.size() - 2);
  const int value = StrToInt(aValue);
  CheckWindowBits(value);
  return value;
}

}  // namespace

void CheckWindowBits(int aValue) {
  if (aValue < 8 || aValue > 15) {
    std::string text(kMsgInvalidWindowBits);
    text.replace(text.find("%d"), 2, std::to_string(aValue));
    throw Exception(text);
  }
}

// --- base ---

void TbrzWSExtension_Base::Assign(const TbrzWSExtension_Base& aSource) {
  FEnabled = aSource.FEnabled;
  FMode = aSource.FMode;
  FMaxInflatedSize = aSource.FMaxInflatedSize;
}

std::string TbrzWSExtension_Base::GetHeaderExtension() const { return kExtensionsHeader + FHeaderExtension; }

bool TbrzWSExtension_Base::DecodeExtension(const std::string&) { return false; }

void TbrzWSExtension_Base::DecodeHeader(uint8_t aByte) {
  if (IsFirstDataFrame(aByte)) FMessageCompressed = (aByte & kRSV1) != 0;
}

void TbrzWSExtension_Base::EncodeHeader(uint8_t& aByte) const {
  if (FActive && IsFirstDataFrame(aByte)) aByte |= kRSV1;
}

void TbrzWSExtension_Base::ResetState() {
  FActive = false;
  FMessageCompressed = false;
  FDefStream.clear();
  FInfStream.clear();
}

// --- permessage-deflate ---

void TbrzWSExtension_PerMessage_Deflate::Assign(const TbrzWSExtension_Base& aSource) {
  TbrzWSExtension_Base::Assign(aSource);
  if (const auto* source = dynamic_cast<const TbrzWSExtension_PerMessage_Deflate*>(&aSource)) {
    FServerMaxWindowBits = source->FServerMaxWindowBits;
    FServerNoContextTakeOver = source->FServerNoContextTakeOver;
    FClientMaxWindowBits = source->FClientMaxWindowBits;
    FClientNoContextTakeOver = source->FClientNoContextTakeOver;
    FMemLevel = source->FMemLevel;
  }
}

std::unique_ptr<TbrzWSExtension_Base> TbrzWSExtension_PerMessage_Deflate::Create() const {
  return std::make_unique<TbrzWSExtension_PerMessage_Deflate>();
}

std::string TbrzWSExtension_PerMessage_Deflate::GetName() const {
  if (FMode == TwsApplicationMode::appClient) return std::string(kPerMessageDeflate) + "; " + kClientMaxWindowBits;
  return kPerMessageDeflate;
}

std::string TbrzWSExtension_PerMessage_Deflate::OfferText() const {
  // The bare client_max_window_bits of the name only says we accept a limit; a value replaces it, since a
  // repeated parameter makes peers decline the whole offer.
  std::string text = std::string(kPerMessageDeflate) + "; " + kClientMaxWindowBits;
  if (FClientMaxWindowBits != 15) text += "=" + std::to_string(FClientMaxWindowBits);
  if (FClientNoContextTakeOver) text += std::string(";") + kClientNoContextTakeOver;
  if (FServerMaxWindowBits != 15) text += std::string(";") + kServerMaxWindowBits + "=" + std::to_string(FServerMaxWindowBits);
  if (FServerNoContextTakeOver) text += std::string(";") + kServerNoContextTakeOver;
  return text;
}

bool TbrzWSExtension_PerMessage_Deflate::DecodeExtension(const std::string& aExtension) {
  if (!ContainsNoCase(aExtension, kPerMessageDeflate)) return false;
  FHeaderExtension = GetName();
  const bool server = FMode == TwsApplicationMode::appServer;
  // As a client, whether the server keeps its context is the server's word in its answer alone.
  if (!server) FServerNoContextTakeOver = false;
  bool clientNoContextAnswered = false;
  for (std::string_view part : Split(aExtension, ';')) {
    const size_t eq = part.find('=');
    const std::string_view name = Trim(part.substr(0, eq));
    const bool hasValue = eq != std::string_view::npos;
    const std::string_view value = hasValue ? Trim(part.substr(eq + 1)) : std::string_view();
    if (SameName(name, kClientMaxWindowBits)) {
      if (hasValue) SetClientMaxWindowBits(ParseWindowBits(value));
      FHeaderExtension += std::string(";") + kClientMaxWindowBits + "=" + std::to_string(FClientMaxWindowBits);
    } else if (SameName(name, kServerMaxWindowBits) || SameName(name, kServMaxWindowBits)) {
      if (hasValue) SetServerMaxWindowBits(ParseWindowBits(value));
      FHeaderExtension += std::string(";") + kServerMaxWindowBits + "=" + std::to_string(FServerMaxWindowBits);
    } else if (!hasValue && SameName(name, kClientNoContextTakeOver)) {
      FClientNoContextTakeOver = true;
      clientNoContextAnswered = true;
      FHeaderExtension += std::string(";") + kClientNoContextTakeOver;
    } else if (!hasValue && SameName(name, kServerNoContextTakeOver)) {
      FServerNoContextTakeOver = true;
      FHeaderExtension += std::string(";") + kServerNoContextTakeOver;
    }
  }
  // A server that inflates without dictionary must say so, or the client's references break.
  if (server && FClientNoContextTakeOver && !clientNoContextAnswered)
    FHeaderExtension += std::string(";") + kClientNoContextTakeOver;
  return true;
}

void TbrzWSExtension_PerMessage_Deflate::SetServerMaxWindowBits(int aValue) {
  CheckWindowBits(aValue);
  FServerMaxWindowBits = aValue;
}

void TbrzWSExtension_PerMessage_Deflate::SetClientMaxWindowBits(int aValue) {
  CheckWindowBits(aValue);
  FClientMaxWindowBits = aValue;
}

void TbrzWSExtension_PerMessage_Deflate::SetMemLevel(int aValue) {
  if (aValue < 1 || aValue > MAX_MEM_LEVEL) {
    std::string text(kMsgInvalidMemLevel);
    text.replace(text.find("%d"), 2, std::to_string(aValue));
    throw Exception(text);
  }
  FMemLevel = aValue;
}

// appNone behaves as a client.
int TbrzWSExtension_PerMessage_Deflate::DeflateWindowBits() const {
  return FMode == TwsApplicationMode::appServer ? FServerMaxWindowBits : FClientMaxWindowBits;
}

bool TbrzWSExtension_PerMessage_Deflate::DeflateContextTakeOver() const {
  return FMode == TwsApplicationMode::appServer ? !FServerNoContextTakeOver : !FClientNoContextTakeOver;
}

bool TbrzWSExtension_PerMessage_Deflate::InflateContextTakeOver() const {
  return FMode == TwsApplicationMode::appServer ? !FClientNoContextTakeOver : !FServerNoContextTakeOver;
}

void TbrzWSExtension_PerMessage_Deflate::DeflateFrame(TBytes& aStream) {
  DeflateMessage(aStream, FDefStream, TbrzDeflateParams{1, DeflateWindowBits(), FMemLevel, DeflateContextTakeOver()});
}

void TbrzWSExtension_PerMessage_Deflate::InflateFrame(TBytes& aStream) {
  InflateMessage(aStream, FInfStream, InflateContextTakeOver(), FMaxInflatedSize);
}

// --- x-webkit-deflate-frame ---

TbrzWSExtension_DeflateFrame::TbrzWSExtension_DeflateFrame() { FHeaderExtension = kDeflateFrame; }

TbrzWSExtension_DeflateFrame::TbrzWSExtension_DeflateFrame(const TbrzWSExtension_DeflateFrame& aSource)
    : TbrzWSExtension_DeflateFrame() {
  Assign(aSource);
}

void TbrzWSExtension_DeflateFrame::Assign(const TbrzWSExtension_Base& aSource) {
  TbrzWSExtension_Base::Assign(aSource);
  if (const auto* source = dynamic_cast<const TbrzWSExtension_DeflateFrame*>(&aSource))
    FWindowBits = source->FWindowBits;
}

std::unique_ptr<TbrzWSExtension_Base> TbrzWSExtension_DeflateFrame::Create() const {
  return std::make_unique<TbrzWSExtension_DeflateFrame>();
}

std::string TbrzWSExtension_DeflateFrame::GetName() const { return kDeflateFrame; }

bool TbrzWSExtension_DeflateFrame::DecodeExtension(const std::string& aExtension) {
  return ContainsNoCase(aExtension, kDeflateFrame);
}

void TbrzWSExtension_DeflateFrame::SetWindowBits(int aValue) {
  CheckWindowBits(aValue);
  FWindowBits = aValue;
}

void TbrzWSExtension_DeflateFrame::DeflateFrame(TBytes& aStream) {
  DeflateMessage(aStream, FDefStream, TbrzDeflateParams{Z_DEFAULT_COMPRESSION, FWindowBits, 1, true});
}

void TbrzWSExtension_DeflateFrame::InflateFrame(TBytes& aStream) {
  InflateMessage(aStream, FInfStream, true, FMaxInflatedSize);
}

}  // namespace brz
