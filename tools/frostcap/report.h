#pragma once

// What a run reports: printed as it comes as text, or collected and printed
// at the end as one JSON document.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "listing.h"
#include "session.h"

namespace frostcap::cli {

class Report {
 public:
  Report(bool json, bool raw, std::string command);

  // The library's messages; any message marks the run as failed.
  void messages(const std::vector<std::string>& texts);
  void list(const char* key, const char* heading, const std::vector<std::string>& entries);
  void mountPaths(const std::vector<std::string>& paths);
  // The files as a backup reads them, under "listing"; a directory is
  // printed with a trailing backslash.
  void listing(const char* heading, const std::vector<ListedFile>& entries);
  // The catalogue's lines: a heading per writer, a JSON record per component.
  void catalogue(const std::vector<std::string>& lines);
  // A line of the command's own on stderr, also kept in the document under
  // "notes".
  void note(const std::string& text);
  void set(const char* key, nlohmann::json value) { json_[key] = std::move(value); }
  nlohmann::json& at(const char* key) { return json_[key]; }
  bool failed() const { return failed_; }
  bool json() const { return json_output_; }

  // Keeps the time each call of the session took, for the document.
  void timings(const Session& session);
  // Prints the document (with --json) and returns the exit code.
  int finish(int exitCode);

 private:
  bool json_output_;
  bool raw_;
  nlohmann::json json_;
  bool failed_ = false;
};

}  // namespace frostcap::cli
