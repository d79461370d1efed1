#include "messages.h"

namespace frostcap::cli {

const std::vector<TokenText>& tokenTexts() {
  static const std::vector<TokenText> texts = {
      {"FATAL_PREFIX", "error"},
      {"WARNING_PREFIX", "warning"},
      {"ERR_TAKE_SNAPSHOT", "the shadow copies could not be made"},
      {"ERR_INIT_VSS", "the shadow copy service could not be reached"},
      {"ERR_NO_VOLUMES", "there is nothing to copy: no volume and no writer was chosen"},
      {"ERR_SNAPSHOT_REUSE", "this snapshot has already been taken; start a new one"},
      {"ERR_NO_PERMISSION",
       "the service refused to start a backup; run as an administrator or backup operator"},
      {"ERR_BAD_GUID", "a writer id is not a GUID in braces"},
      {"ERR_MISSING_WRITER", "not every chosen writer answered the service"},
      {"ERR_NO_COMPONENT", "a chosen component is not among its writer's components"},
      {"ERR_MISSING_NAME", "a component was chosen without a name"},
      {"ERR_NOT_READY", "the snapshot has not been prepared yet"},
      {"ERR_FILE_SET", "the list of files could not be completed"},
      {"ERR_UNCAUGHT", "an unexpected internal error occurred"},
      {"ERR_COMPONENT_VSS", "a component failed in the shadow copy service"},
      {"ERR_COMPONENT_APP", "a component failed in its application"},
      {"ERR_COMPONENT_CUST", "a component's writer reported a failure"},
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

}  // namespace frostcap::cli
