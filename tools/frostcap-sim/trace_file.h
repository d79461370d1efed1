#pragma once

// Reading traces and records: one JSON object per line, each with at least
// "call" and "text". A trace may hold several runs, each beginning with a
// "Trace" line; a record is one run without such a line.

#include <cstddef>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace frostcap::replay {

// A line that cannot be taken: the message names the file and the line.
class TraceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TraceLine {
  std::size_t number = 0;  // 1-based, in the file
  std::string call;
  std::string text;
  std::uint32_t status = 0;  // 0 where the line names none
  nlohmann::json entry;      // the whole line
};

struct TraceFile {
  std::string source;  // the file's name, for messages
  std::vector<std::vector<TraceLine>> runs;
};

// Reads `text` of the file `source`. Throws TraceError.
TraceFile parseTrace(const std::string& text, const std::string& source);
TraceFile readTrace(const std::filesystem::path& file);

// Run `number` (1-based) of the file, or its last run. Throws TraceError.
const std::vector<TraceLine>& selectRun(const TraceFile& file, std::optional<std::size_t> number);

// "0x%08X", as traces and records write statuses.
std::string statusText(std::uint32_t status);

// "file:line: " for messages about a line.
std::string where(const std::string& source, const TraceLine& line);

}  // namespace frostcap::replay
