#include "app/CommandFramer.h"

namespace brz {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool OnlyBlanks(std::string_view text) {
  for (char c : text)
    if (!IsBlank(c) && c != '\n') return false;
  return true;
}

}  // namespace

void TbrzCommandFramer::Reset() {
  FState = TState::Between;
  FAfterComment = TState::Between;
  FLineStart = true;
  FInString = FEscape = FOverflow = false;
  FDepth = 0;
  FCurrent.clear();
}

void TbrzCommandFramer::Emit(std::vector<std::string>& Out) {
  if (!OnlyBlanks(FCurrent)) Out.push_back(std::move(FCurrent));
  FCurrent.clear();
  FState = TState::Between;
}

bool TbrzCommandFramer::Feed(std::string_view Bytes, std::vector<std::string>& Out) {
  if (FOverflow) return false;
  for (char c : Bytes) {
    switch (FState) {
      case TState::Between:
        if (c == '\n') {
          FLineStart = true;
        } else if (IsBlank(c)) {
        } else if (c == '#' && FLineStart) {
          FAfterComment = TState::Between;
          FState = TState::Comment;
        } else {
          FState = c == '{' ? TState::Object : TState::Line;
          FDepth = 1;
          FInString = FEscape = false;
          FLineStart = false;
          FCurrent.assign(1, c);
        }
        break;
      case TState::Comment:
        if (c == '\n') {
          FState = FAfterComment;
          FLineStart = true;
          // Keeps the text on both sides of the comment apart.
          if (FState == TState::Object) FCurrent += '\n';
        }
        break;
      case TState::Line:
        if (c == '\n') {
          if (!FCurrent.empty() && FCurrent.back() == '\r') FCurrent.pop_back();
          Emit(Out);
          FLineStart = true;
        } else {
          FCurrent += c;
        }
        break;
      case TState::Object:
        if (FInString) {
          FCurrent += c;
          if (FEscape) FEscape = false;
          else if (c == '\\') FEscape = true;
          else if (c == '"') FInString = false;
          break;
        }
        if (FLineStart && c == '#') {
          FAfterComment = TState::Object;
          FState = TState::Comment;
          break;
        }
        if (!IsBlank(c)) FLineStart = c == '\n';
        FCurrent += c;
        if (c == '"') {
          FInString = true;
        } else if (c == '{' || c == '[') {
          ++FDepth;
        } else if (c == '}' || c == ']') {
          if (--FDepth == 0) Emit(Out);
        }
        break;
    }
    if (FCurrent.size() > FMaxCommand) {
      FOverflow = true;
      FCurrent.clear();
      return false;
    }
  }
  return true;
}

std::string TbrzCommandFramer::Finish() {
  std::string rest;
  if (!FOverflow && (FState == TState::Line || FState == TState::Object) && !OnlyBlanks(FCurrent)) {
    rest = std::move(FCurrent);
    if (FState == TState::Line && !rest.empty() && rest.back() == '\r') rest.pop_back();
  }
  Reset();
  return rest;
}

}  // namespace brz
