// frostcap-sim: what the simulated service makes of a trace of a real run.
//
//   frostcap-sim scenario TRACE [-o FILE] [--run N] [--volume NAME=DIR]...
//   frostcap-sim compare A B
//
// Exit codes: 0 done (compare: the calls agree), 1 the calls differ, 2 a
// usage error or a trace that cannot be read.

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "compare_calls.h"
#include "platform/platform.h"
#include "scenario_from_trace.h"
#include "simulator/scenario.h"
#include "trace_file.h"

namespace {

namespace fs = std::filesystem;
using namespace frostcap;

constexpr int kDiffer = 1;
constexpr int kUsage = 2;

int makeScenario(const std::string& trace, const std::string& output, std::size_t run,
                 const std::vector<std::string>& volumes) {
  replay::ScenarioOptions options;
  if (run != 0) options.run = run;
  for (const std::string& volume : volumes) {
    const std::size_t equals = volume.find('=');
    if (equals == 0 || equals == std::string::npos || equals + 1 == volume.size()) {
      std::cerr << "frostcap-sim: --volume " << volume << ": expected NAME=DIR\n";
      return kUsage;
    }
    options.volumeDirectories[platform::utf8ToWide(volume.substr(0, equals))] =
        fs::absolute(volume.substr(equals + 1)).lexically_normal();
  }
  const replay::MadeScenario made = scenarioFromTrace(replay::readTrace(trace), options);

  const fs::path folder = output.empty() ? fs::path(".") : fs::absolute(output).parent_path();
  for (const std::string& directory : made.emptyDirectories) {
    fs::create_directories(folder / directory);
  }
  const std::string text = made.document.dump(2) + "\n";
  // What the model would refuse is this tool's fault, not the trace's.
  simulator::parseScenario(text, output.empty() ? "the scenario" : output, folder);
  if (output.empty()) {
    std::cout << text;
  } else {
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::cerr << "frostcap-sim: " << output << ": cannot be written\n";
      return kUsage;
    }
  }
  for (const std::string& note : made.notes) std::cerr << "frostcap-sim: note: " << note << "\n";
  return 0;
}

int compare(const std::string& a, const std::string& b) {
  const replay::Comparison comparison =
      replay::compareCalls(replay::readTrace(a), replay::readTrace(b));
  std::cout << comparison.report;
  return comparison.agree ? 0 : kDiffer;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Turns a trace of a run on a real server into a scenario of the simulated service, "
      "and compares the service calls of two traces or records.\n"
      "Exit codes: 0 done (compare: the calls agree), 1 the calls differ, 2 usage or trace "
      "error.",
      "frostcap-sim"};
  app.require_subcommand(1);

  std::string trace, output;
  std::size_t run = 0;
  std::vector<std::string> volumes;
  CLI::App* scenario = app.add_subcommand(
      "scenario", "Write the scenario that replays a run of TRACE (the last unless --run).");
  scenario->add_option("TRACE", trace, "the trace (JSON lines)")->required();
  scenario->add_option("-o,--output", output, "the scenario file (default: standard output)");
  scenario->add_option("--run", run, "which run of the file, counting from 1")
      ->check(CLI::PositiveNumber);
  scenario->add_option("--volume", volumes,
                       "NAME=DIR: the directory to serve the volume NAME from (a trace holds "
                       "no file contents; without it, an empty directory)");

  std::string first, second;
  CLI::App* comparing =
      app.add_subcommand("compare",
                         "Compare the service calls of A and B (traces or records) in order: call, "
                         "arguments and status.");
  comparing->add_option("A", first, "a trace or record")->required();
  comparing->add_option("B", second, "a trace or record")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? 0 : kUsage;
  }
  try {
    if (*scenario) return makeScenario(trace, output, run, volumes);
    return compare(first, second);
  } catch (const std::exception& error) {
    std::cerr << "frostcap-sim: " << error.what() << "\n";
    return kUsage;
  }
}
