#pragma once

// One snapshot handle driven through the exported functions, with the time
// each call took and a live progress line while a call blocks.

#include <chrono>
#include <string>
#include <vector>

#include "api.h"

namespace frostcap::cli {

using HostString = std::basic_string<frostcap_char>;

HostString toHost(const std::string& utf8);
std::string fromHost(const frostcap_char* text, size_t length);

struct Timing {
  std::string call;  // the exported function's name
  double seconds = 0;
};

class Session {
 public:
  // `showProgress`: a live line while a call blocks (on a terminal);
  // `reportPhases`: a line per blocking call with its duration, on stderr.
  Session(const Api& api, bool showProgress, bool reportPhases = false);
  ~Session();  // frees the handle with verdict 0 if free() was not called
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool valid() const { return handle_ != nullptr; }

  void addVolume(const std::string& volume);
  void addWriter(const std::string& writerId);
  void addComponent(bool database, const std::string& writerId, const std::string& logicalPath,
                    const std::string& name, const std::string& fallbackLogicalPath);
  void setBackupType(unsigned int type);
  void useSystemProvider();

  // The blocking calls; the phases return the library's 0 or 1.
  int prepare();
  int takeSnapshot();
  void loadCatalogue();
  void loadFiles();
  void free(int verdict);

  std::vector<std::string> messages() { return drain(api_.getNextMessage); }
  std::vector<std::string> mountPaths() { return drain(api_.getNextMountPath); }
  std::vector<std::string> catalogue() { return drain(api_.getNextWriterComponent); }
  std::vector<std::string> files() { return drain(api_.getNextWriterFileInfo); }
  std::vector<std::string> excludedFiles() { return drain(api_.getNextWriterExcludedFileInfo); }

  const std::vector<Timing>& timings() const { return timings_; }

 private:
  using GetNext = const frostcap_char* (*)(frostcap_snapshot*, size_t*);
  std::vector<std::string> drain(GetNext next);

  // Runs one exported call, timing it; `progress` names what a blocking call
  // is doing, for the live line on a terminal.
  template <typename Call>
  auto timed(const char* name, const char* progress, Call&& call);

  const Api& api_;
  bool showProgress_;
  bool reportPhases_;
  frostcap_snapshot* handle_ = nullptr;
  std::vector<Timing> timings_;
};

}  // namespace frostcap::cli
