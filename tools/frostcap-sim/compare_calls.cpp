#include "compare_calls.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace frostcap::replay {

bool isCallEntry(std::string_view call) {
  constexpr std::string_view kNotCalls[] = {"Trace",  "Assumption", "Breach",
                                            "Misuse", "Ledger",     "Scenario"};
  constexpr std::string_view kOutcome = ".Result";
  if (std::find(std::begin(kNotCalls), std::end(kNotCalls), call) != std::end(kNotCalls)) {
    return false;
  }
  return !(call.size() > kOutcome.size() && call.substr(call.size() - kOutcome.size()) == kOutcome);
}

namespace {

std::vector<const TraceLine*> callsOf(const TraceFile& file) {
  std::vector<const TraceLine*> calls;
  for (const TraceLine& line : selectRun(file, std::nullopt)) {
    if (isCallEntry(line.call)) calls.push_back(&line);
  }
  return calls;
}

std::string shown(const std::string& source, const TraceLine& line) {
  return where(source, line) + line.text + " -> " + statusText(line.status) + "\n";
}

}  // namespace

Comparison compareCalls(const TraceFile& a, const TraceFile& b) {
  const std::vector<const TraceLine*> first = callsOf(a);
  const std::vector<const TraceLine*> second = callsOf(b);
  const std::size_t common = std::min(first.size(), second.size());
  for (std::size_t i = 0; i < common; ++i) {
    const TraceLine& x = *first[i];
    const TraceLine& y = *second[i];
    if (x.call == y.call && x.text == y.text && x.status == y.status) continue;
    return {false, "call " + std::to_string(i + 1) + " differs:\n" + shown(a.source, x) +
                       shown(b.source, y)};
  }
  if (first.size() != second.size()) {
    const bool firstLonger = first.size() > second.size();
    const TraceFile& longer = firstLonger ? a : b;
    const TraceFile& shorter = firstLonger ? b : a;
    const TraceLine& extra = *(firstLonger ? first : second)[common];
    return {false, shorter.source + " ends after " + std::to_string(common) + " calls; " +
                       longer.source + " goes on:\n" + shown(longer.source, extra)};
  }
  return {true, "the " + std::to_string(common) + " calls agree\n"};
}

}  // namespace frostcap::replay
