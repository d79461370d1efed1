#include "session.h"

#include <cstdio>
#include <type_traits>

#include "background.h"
#include "platform/utf_codec.h"

namespace frostcap::cli {

HostString toHost(const std::string& utf8) {
  const std::u16string text = utf::toUtf16(utf8);
  return HostString(text.begin(), text.end());
}

std::string fromHost(const frostcap_char* text, size_t length) {
  return utf::toUtf8(std::u16string(text, text + length));
}

namespace {

// Redraws "<what>... 1.2 s" on stderr every tenth of a second until destroyed.
class ProgressLine {
 public:
  ProgressLine(bool enabled, const char* what) {
    if (!enabled || what == nullptr) return;
    background_.start([this, what] {
      const auto start = std::chrono::steady_clock::now();
      do {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        std::fprintf(stderr, "\r%s... %.1f s ", what, elapsed.count());
        std::fflush(stderr);
      } while (background_.sleep(std::chrono::milliseconds(100)));
      std::fprintf(stderr, "\r\033[K");
      std::fflush(stderr);
    });
  }

 private:
  Background background_;
};

}  // namespace

template <typename Call>
auto Session::timed(const char* name, const char* progress, Call&& call) {
  const ProgressLine line(showProgress_, progress);
  const auto start = std::chrono::steady_clock::now();
  const auto record = [&] {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    timings_.push_back({name, elapsed.count()});
    // Each phase with its duration, on a line of its own that replaces the
    // live one on a terminal.
    if (reportPhases_ && progress != nullptr) {
      std::fprintf(stderr, "%sfrostcap: %s: %.3f s\n", showProgress_ ? "\r\033[K" : "", progress,
                   elapsed.count());
    }
  };
  if constexpr (std::is_void_v<decltype(call())>) {
    call();
    record();
  } else {
    auto result = call();
    record();
    return result;
  }
}

Session::Session(const Api& api, bool showProgress, bool reportPhases)
    : api_(api), showProgress_(showProgress), reportPhases_(reportPhases) {
  api_.library_init();
  handle_ = timed("frostcap_snapshot_new", nullptr, [&] { return api_.snapshot_new(); });
}

Session::~Session() {
  if (handle_ != nullptr) free(0);
}

void Session::addVolume(const std::string& volume) {
  const HostString text = toHost(volume);
  timed("frostcap_snapshot_addVolumePath", nullptr,
        [&] { api_.addVolumePath(handle_, text.c_str()); });
}

void Session::addWriter(const std::string& writerId) {
  const HostString text = toHost(writerId);
  timed("frostcap_snapshot_addWriter", nullptr, [&] { api_.addWriter(handle_, text.c_str()); });
}

void Session::addComponent(bool database, const std::string& writerId,
                           const std::string& logicalPath, const std::string& name,
                           const std::string& fallbackLogicalPath) {
  const HostString id = toHost(writerId), path = toHost(logicalPath), component = toHost(name),
                   fallback = toHost(fallbackLogicalPath);
  if (database) {
    timed("frostcap_snapshot_addWriterDatabaseComponentFallback", nullptr, [&] {
      api_.addWriterDatabaseComponentFallback(handle_, id.c_str(), path.c_str(), component.c_str(),
                                              fallback.c_str());
    });
  } else {
    timed("frostcap_snapshot_addWriterFilegroupComponentFallback", nullptr, [&] {
      api_.addWriterFilegroupComponentFallback(handle_, id.c_str(), path.c_str(), component.c_str(),
                                               fallback.c_str());
    });
  }
}

void Session::setBackupType(unsigned int type) {
  timed("frostcap_snapshot_setIncrementalMode", nullptr,
        [&] { api_.setIncrementalMode(handle_, type); });
}

void Session::useSystemProvider() {
  timed("frostcap_snapshot_setUseSystemProvider", nullptr,
        [&] { api_.setUseSystemProvider(handle_); });
}

int Session::prepare() {
  return timed("frostcap_snapshot_perform_a", "gathering writer metadata",
               [&] { return api_.perform_a(handle_); });
}

int Session::takeSnapshot() {
  return timed("frostcap_snapshot_perform_b", "creating the shadow copies",
               [&] { return api_.perform_b(handle_); });
}

void Session::loadCatalogue() {
  timed("frostcap_snapshot_loadWriterComponents", "listing writer components",
        [&] { api_.loadWriterComponents(handle_); });
}

void Session::loadFiles() {
  timed("frostcap_snapshot_loadWriterFileInfo", "listing writer files",
        [&] { api_.loadWriterFileInfo(handle_); });
}

void Session::free(int verdict) {
  timed("frostcap_snapshot_free", "completing the backup",
        [&] { api_.snapshot_free(handle_, verdict); });
  handle_ = nullptr;
}

std::vector<std::string> Session::drain(GetNext next) {
  std::vector<std::string> entries;
  size_t length = 0;
  for (const frostcap_char* text = next(handle_, &length); length != 0;
       text = next(handle_, &length)) {
    entries.push_back(fromHost(text, length));
  }
  return entries;
}

}  // namespace frostcap::cli
