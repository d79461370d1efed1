#include "messages.h"

#include <algorithm>
#include <cctype>

namespace frostcap::cli {

const std::vector<TokenText>& tokenTexts() {
  static const std::vector<TokenText> texts = {
#define FROSTCAP_TOKEN_TEXT(token, text) {token, text},
#include "token_texts.inc"
#undef FROSTCAP_TOKEN_TEXT
  };
  return texts;
}

namespace {

const TokenText* find(std::string_view token) {
  for (const TokenText& entry : tokenTexts()) {
    if (entry.token == token) return &entry;
  }
  return nullptr;
}

std::string lowered(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

bool isSeverity(std::string_view token) {
  return token == "FATAL_PREFIX" || token == "WARNING_PREFIX";
}

}  // namespace

std::string renderMessage(std::string_view message) {
  std::string out;
  bool afterSeverity = false;  // the last thing written was a severity word
  std::size_t pos = 0;
  while (pos < message.size()) {
    const std::size_t open = message.find('{', pos);
    const std::size_t close = open == std::string_view::npos ? open : message.find('}', open);
    const TokenText* entry = close == std::string_view::npos
                                 ? nullptr
                                 : find(message.substr(open + 1, close - open - 1));
    if (entry == nullptr) {
      const std::size_t end = open == std::string_view::npos ? message.size() : open + 1;
      out.append(message.substr(pos, end - pos));
      if (end > pos) afterSeverity = false;
      pos = end;
      continue;
    }
    out.append(message.substr(pos, open - pos));
    if (open > pos) afterSeverity = false;
    if (afterSeverity && !isSeverity(entry->token)) out.append(": ");
    out.append(entry->text);
    afterSeverity = isSeverity(entry->token);
    pos = close + 1;
  }
  return out;
}

bool mentions(const std::vector<std::string>& messages, std::string_view text) {
  const std::string wanted = lowered(text);
  return std::any_of(messages.begin(), messages.end(), [&](const std::string& message) {
    return lowered(message).find(wanted) != std::string::npos;
  });
}

}  // namespace frostcap::cli
