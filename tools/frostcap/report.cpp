#include "report.h"

#include <cstdio>
#include <iostream>

#include "messages.h"

namespace frostcap::cli {
namespace {

void printComponent(const nlohmann::json& record) {
  const std::string type = record[3].get<std::string>();
  const std::string path = record[1].get<std::string>();
  std::printf("  %-38s  %-16s  %-10s  %s%s%s\n", record[0].get<std::string>().c_str(),
              type.empty() ? "(other)" : type.c_str(), record[4].get<bool>() ? "selectable" : "-",
              path.c_str(), path.empty() ? "" : "\\", record[2].get<std::string>().c_str());
}

}  // namespace

Report::Report(bool json, bool raw, std::string command) : json_output_(json), raw_(raw) {
  json_["command"] = std::move(command);
}

void Report::messages(const std::vector<std::string>& texts) {
  for (const std::string& text : texts) {
    json_["messages"].push_back({{"raw", text}, {"text", renderMessage(text)}});
    if (!json_output_) std::cerr << (raw_ ? text : renderMessage(text)) << '\n';
  }
  failed_ = failed_ || !texts.empty();
}

void Report::list(const char* key, const char* heading, const std::vector<std::string>& entries) {
  json_[key] = entries;
  if (json_output_) return;
  std::cout << heading << ":" << (entries.empty() ? " none" : "") << '\n';
  for (const std::string& entry : entries) std::cout << "  " << entry << '\n';
}

void Report::listing(const char* heading, const std::vector<ListedFile>& entries) {
  nlohmann::json& listed = json_["listing"] = nlohmann::json::array();
  for (const ListedFile& entry : entries) {
    listed.push_back(
        {{"path", entry.path},
         {"copyPath", entry.copyPath.empty() ? nlohmann::json() : nlohmann::json(entry.copyPath)},
         {"directory", entry.directory}});
  }
  if (json_output_) return;
  std::cout << heading << ":" << (entries.empty() ? " none" : "") << '\n';
  for (const ListedFile& entry : entries) {
    const bool mark = entry.directory && entry.path.back() != '\\';
    std::cout << "  " << entry.path << (mark ? "\\" : "") << '\n';
  }
}

void Report::mountPaths(const std::vector<std::string>& paths) {
  json_["mountPaths"] = paths;
  if (json_output_) return;
  for (const std::string& path : paths) std::cout << "mount path: " << path << '\n';
}

void Report::catalogue(const std::vector<std::string>& lines) {
  nlohmann::json writers = nlohmann::json::array();
  for (const std::string& line : lines) {
    if (line.rfind("# Writer ", 0) == 0) {
      writers.push_back({{"heading", line.substr(2)}, {"components", nlohmann::json::array()}});
      if (!json_output_) std::cout << line.substr(2) << '\n';
    } else if (line.rfind('[', 0) == 0 && !writers.empty()) {
      const nlohmann::json record = nlohmann::json::parse(line);
      writers.back()["components"].push_back({{"writerId", record[0]},
                                              {"logicalPath", record[1]},
                                              {"name", record[2]},
                                              {"type", record[3]},
                                              {"selectable", record[4]}});
      if (!json_output_) printComponent(record);
    }
  }
  json_["catalogue"] = std::move(writers);
  json_["catalogueLines"] = lines;
}

void Report::note(const std::string& text) {
  json_["notes"].push_back(text);
  std::cerr << "frostcap: " << text << '\n';
}

void Report::timings(const Session& session) {
  nlohmann::json& timings = json_["timings"];
  if (timings.is_null()) timings = nlohmann::json::array();
  for (const Timing& timing : session.timings()) {
    timings.push_back({{"call", timing.call}, {"seconds", timing.seconds}});
  }
}

int Report::finish(int exitCode) {
  json_["exitCode"] = exitCode;
  if (json_output_) std::cout << json_.dump(2) << '\n';
  return exitCode;
}

}  // namespace frostcap::cli
