#pragma once

// The library's message texts made readable: every brace token it can queue
// rendered in plain English, from the one table in token_texts.inc, which the
// bindings' tables are generated from (docs/messages.md documents the same
// tokens for host developers).

#include <string>
#include <string_view>
#include <vector>

namespace frostcap::cli {

struct TokenText {
  std::string_view token;  // without braces, e.g. ERR_TAKE_SNAPSHOT
  std::string_view text;
};

// Every token the library can queue, with its English rendering.
const std::vector<TokenText>& tokenTexts();

// The message with each known token replaced by its text; unknown tokens stay
// as they are. A severity followed directly by an error token is joined to it
// with ": ", so "{FATAL_PREFIX}{ERR_NO_VOLUMES}" reads "error: no volume...".
std::string renderMessage(std::string_view message);

// Whether one of the messages quotes `text`, whatever its case: the library
// writes statuses in lower-case hex, tables keep them as headers spell them.
bool mentions(const std::vector<std::string>& messages, std::string_view text);

}  // namespace frostcap::cli
