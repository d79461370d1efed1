#include "trace_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "vss/call_text.h"

namespace frostcap::replay {

using nlohmann::json;

std::string statusText(std::uint32_t status) {
  return vss::statusText(static_cast<Status>(status));
}

std::string where(const std::string& source, const TraceLine& line) {
  return source + ":" + std::to_string(line.number) + ": ";
}

namespace {

// "0x" and eight hex digits, as both writers of these files write a status.
std::optional<std::uint32_t> parseStatus(const json& value) {
  if (!value.is_string()) return std::nullopt;
  const std::string& text = value.get_ref<const std::string&>();
  if (text.size() != 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') ||
      text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(std::stoul(text.substr(2), nullptr, 16));
}

TraceLine readLine(const std::string& text, std::size_t number, const std::string& source) {
  TraceLine line;
  line.number = number;
  const std::string prefix = source + ":" + std::to_string(number) + ": ";
  try {
    line.entry = json::parse(text);
  } catch (const json::parse_error&) {
    throw TraceError(prefix + "not a JSON object");
  }
  if (!line.entry.is_object()) throw TraceError(prefix + "not a JSON object");
  const auto call = line.entry.find("call");
  const auto called = line.entry.find("text");
  if (call == line.entry.end() || !call->is_string() ||
      call->get_ref<const std::string&>().empty() || called == line.entry.end() ||
      !called->is_string()) {
    throw TraceError(prefix + "expected \"call\" and \"text\" strings");
  }
  line.call = *call;
  line.text = *called;
  if (const auto status = line.entry.find("status"); status != line.entry.end()) {
    const std::optional<std::uint32_t> parsed = parseStatus(*status);
    if (!parsed) throw TraceError(prefix + "expected \"status\" as \"0x\" and eight hex digits");
    line.status = *parsed;
  }
  return line;
}

}  // namespace

TraceFile parseTrace(const std::string& text, const std::string& source) {
  TraceFile file{source, {}};
  std::istringstream lines(text);
  std::string content;
  std::size_t number = 0;
  while (std::getline(lines, content)) {
    ++number;
    if (!content.empty() && content.back() == '\r') content.pop_back();
    if (content.find_first_not_of(" \t") == std::string::npos) continue;
    TraceLine line = readLine(content, number, source);
    if (line.call == "Trace" || file.runs.empty()) file.runs.emplace_back();
    file.runs.back().push_back(std::move(line));
  }
  return file;
}

TraceFile readTrace(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw TraceError(file.string() + ": cannot be read: " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw TraceError(file.string() + ": cannot be read: " + std::strerror(errno));
  return parseTrace(text.str(), file.string());
}

const std::vector<TraceLine>& selectRun(const TraceFile& file, std::optional<std::size_t> number) {
  if (file.runs.empty()) throw TraceError(file.source + ": no calls in it");
  if (!number) return file.runs.back();
  if (*number == 0 || *number > file.runs.size()) {
    throw TraceError(file.source + ": no run " + std::to_string(*number) + "; it holds " +
                     std::to_string(file.runs.size()));
  }
  return file.runs[*number - 1];
}

}  // namespace frostcap::replay
