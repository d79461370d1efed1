// The functions that libfrostcap-sim adds to the nineteen: a host loads a
// scenario through them and reads back what the simulated service was told.
// Like the nineteen, none lets an exception reach the host.

#include "frostcap_sim.h"

#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/utf_codec.h"
#include "simulator/simulation.h"

namespace {

using frostcap::simulator::Simulation;

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

struct HostState {
  std::mutex mutex;
  std::unique_ptr<Simulation> simulation;
  std::string lastError;
  std::string returned;  // what the last call that returns a text handed out
};

// Never destroyed: at exit the library's own process-wide objects, which a
// simulation restores in its destructor, may already be gone. Shadow copies
// still held then are the host's to end, as with the real service.
HostState& hostState() {
  static HostState* state = new HostState;
  return *state;
}

// Hosts pass UTF-8; a narrow string alone would be read in the system's code
// page on Windows.
std::filesystem::path fromUtf8(const char* text) {
  return std::filesystem::path(
      std::u8string_view(reinterpret_cast<const char8_t*>(text != nullptr ? text : "")));
}

void setLastError(HostState& state, const std::exception_ptr& failure) noexcept {
  try {
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& error) {
      state.lastError = error.what();
    } catch (...) {
      state.lastError = "an unexpected internal error occurred";
    }
  } catch (...) {
    state.lastError.clear();  // no memory for the text
  }
}

// Runs `body` under the lock and turns an exception into a failure whose text
// is kept for frostcap_sim_lastError.
template <typename Body>
int reportingFailure(Body&& body) noexcept {
  HostState& state = hostState();
  const std::lock_guard lock(state.mutex);
  try {
    state.lastError.clear();
    body(state);
    return kSuccess;
  } catch (...) {
    setLastError(state, std::current_exception());
  }
  return kFailure;
}

}  // namespace

extern "C" {

FROSTCAP_API int frostcap_sim_loadScenario(const char* utf8Path) {
  return reportingFailure([&](HostState& state) {
    std::unique_ptr<Simulation> next = Simulation::fromFile(fromUtf8(utf8Path));
    // Each simulation puts back what it replaced when it goes, so the earlier
    // one must go before the next one is installed.
    state.simulation.reset();
    state.simulation = std::move(next);
    state.simulation->install();
  });
}

FROSTCAP_API const char* frostcap_sim_lastError(void) {
  HostState& state = hostState();
  const std::lock_guard lock(state.mutex);
  return state.lastError.c_str();
}

FROSTCAP_API size_t frostcap_sim_recordCount(void) {
  HostState& state = hostState();
  const std::lock_guard lock(state.mutex);
  return state.simulation ? state.simulation->record().size() : 0;
}

FROSTCAP_API const char* frostcap_sim_recordEntry(size_t index) {
  HostState& state = hostState();
  const std::lock_guard lock(state.mutex);
  if (!state.simulation || index >= state.simulation->record().size()) return nullptr;
  try {
    state.returned = frostcap::simulator::recordLine(state.simulation->record()[index]);
    return state.returned.c_str();
  } catch (...) {
    return nullptr;
  }
}

FROSTCAP_API int frostcap_sim_writeRecord(const char* utf8Path) {
  return reportingFailure([&](HostState& state) {
    if (!state.simulation) throw std::runtime_error("no scenario is loaded");
    state.simulation->writeRecord(fromUtf8(utf8Path));
  });
}

FROSTCAP_API const char* frostcap_sim_hostPath(const char* utf8Path) {
  HostState& state = hostState();
  const std::lock_guard lock(state.mutex);
  if (!state.simulation || utf8Path == nullptr) return nullptr;
  try {
    const auto path = state.simulation->hostPath(frostcap::utf::toUtf16(utf8Path));
    if (!path) return nullptr;
    const std::u8string utf8 = path->u8string();
    state.returned.assign(utf8.begin(), utf8.end());
    return state.returned.c_str();
  } catch (...) {
    return nullptr;
  }
}

FROSTCAP_API void frostcap_sim_unload(void) {
  HostState& state = hostState();
  const std::lock_guard lock(state.mutex);
  state.simulation.reset();
}

}  // extern "C"
