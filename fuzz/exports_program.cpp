// The exported functions driven by a program of bytes: calls in any order,
// with any strings, on a handle or on none, against the model of the service with
// faults planned at any of its calls and writers that fail. Whatever the
// program: no exception leaves the library, a perform function answers 0 or 1
// and queues a message when it answers 1, a getNext string ends where its
// length says, and the release gives back every service object and component
// description.
//
// The program is a sequence of operations, one letter each, followed by its
// arguments (a missing byte reads as zero):
//   N new handle           F v  free with verdict v     V s  addVolumePath
//   W s  addWriter         D s s s s / G s s s s  add a database / file-group component
//   I b  setIncrementalMode  S  setUseSystemProvider   A  perform_a   B  perform_b
//   C  loadWriterComponents  L  loadWriterFileInfo     R b  a getNext function, b picks
//   P s  pathIsNetworkPath  0  library_init
//   X o k n  plan a fault: operation o, kind k, at its n-th call
//   Y w k   writer w fails: k picks none, in part, wholly, or with a success code
// A string s is a dictionary entry chosen by one byte, or '"' and UTF-8 text up
// to the next '"', or '\'' followed by a count and that many raw UTF-16 units.

#include <cstddef>
#include <cstdint>
#include <string>

#include "frame/snapshot.h"
#include "frostcap.h"
#include "fuzz_check.h"
#include "platform/platform.h"
#include "simulator/faultable_calls.h"
#include "support/model_service.h"
#include "support/scenario.h"

namespace {

using frostcap::Status;
using frostcap::fuzz::finding;
using frostcap::fuzz::require;
using frostcap::simulator::kFaultableCalls;
using namespace frostcap::test;

const std::u16string kDictionary[] = {kDatabaseWriterId,
                                      kFilesWriterId,
                                      u"",
                                      u"store\\main",
                                      u"Store\\Main",
                                      u"MAIL",
                                      u"Store",
                                      u"Logs",
                                      u"Old\\Path",
                                      u"Documents",
                                      u"C:\\",
                                      u"Q:\\",
                                      u"Q:\\Data\\",
                                      u"\\\\server\\share",
                                      u"{AAAAAAAA-0000-0000-0000-000000000001",
                                      u"\xD800",
                                      u"a\"b\\c\x01"};

class Program {
 public:
  Program(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool done() const { return at_ >= size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

  std::u16string text() {
    const std::uint8_t first = byte();
    if (first == '"') {
      std::string utf8;
      while (!done() && data_[at_] != '"') utf8 += static_cast<char>(byte());
      byte();
      return frostcap::platform::utf8ToWide(utf8);
    }
    if (first == '\'') {
      std::u16string units(byte(), u'\0');
      for (char16_t& unit : units) unit = static_cast<char16_t>(byte() | byte() << 8);
      return units;
    }
    return kDictionary[first % std::size(kDictionary)];
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

FileSpec descriptor(const std::u16string& path, const std::u16string& filespec) {
  return {path, filespec, false};
}

// Two writers whose files lie in directories that do not exist, so that the
// searches find nothing whatever the program does.
void script(ModelService& service) {
  service.volumes = ModelService::volumesNamed({u"C:\\", u"Q:\\"});
  service.writers = twoWriters();
  WriterSpec& database = service.writers[0];
  database.components[0].files = {descriptor(u"Q:\\Data", u"*.edb")};
  database.components[0].databases = {{std::nullopt, u"*", false}};
  database.components[1].logs = {descriptor(u"%FROSTCAP_FUZZ_UNDEFINED%\\Logs\\", u"*.log")};
  database.excludes = {descriptor(u"Q:\\Temp", u"*")};
  service.writers[1].components[0].files = {descriptor(u"Q:\\Data\\Documents", u"*")};
}

void failWriter(ModelService& service, std::uint8_t which, std::uint8_t kind) {
  WriterSpec& writer = service.writers[which % service.writers.size()];
  writer.failedComponents.clear();
  switch (kind % 4) {
    case 0:
      writer.status = 0;
      break;
    case 1:
      writer.status = static_cast<Status>(0x80042336);
      writer.failedComponents = {
          {u"Mail", {static_cast<Status>(0x800423F3), static_cast<Status>(0x80070005), u"full"}},
          {u"Logs", {0, 0, u""}}};
      break;
    case 2:
      writer.status = static_cast<Status>(0x800423F2);
      break;
    default:
      writer.status = 0x0004230A;
      break;
  }
}

void planFault(ModelService& service, std::uint8_t op, std::uint8_t kind, std::uint8_t occurrence) {
  const std::string name(kFaultableCalls[op % std::size(kFaultableCalls)]);
  const int at = 1 + occurrence % 6;
  switch (kind % 6) {
    case 0:
      service.fail(name, static_cast<Status>(0x80042302), at);
      break;
    case 1:
      service.fail(name, static_cast<Status>(0x80070005), at);
      break;
    case 2:
      service.answer(name, 0x0004230B);  // a success code that is not zero, at every call
      break;
    case 3:
      service.raise(name, Throw::kBadAlloc, at);
      break;
    case 4:
      service.raise(name, Throw::kStandard, at);
      break;
    default:
      service.raise(name, Throw::kNonStandard, at);
      break;
  }
}

std::size_t messageCount(frostcap_snapshot* handle) {
  return handle != nullptr ? handle->state.messages.size() : 0;
}

void checkPerform(frostcap_snapshot* handle, int (*perform)(frostcap_snapshot*)) {
  const std::size_t before = messageCount(handle);
  const int result = perform(handle);
  require(result == 0 || result == 1, "a perform function answered neither 0 nor 1");
  if (handle != nullptr && result == 1) {
    require(messageCount(handle) > before, "a perform function failed without a message");
  }
}

void checkRead(frostcap_snapshot* handle, std::uint8_t choice) {
  const GetNext next = kGetNextFunctions[choice % std::size(kGetNextFunctions)];
  size_t length = 12345;
  const bool withLength = (choice / std::size(kGetNextFunctions)) % 2 == 0;
  const frostcap_char* text = next(handle, withLength ? &length : nullptr);
  require(text != nullptr, "a getNext function answered a null pointer");
  if (!withLength) return;
  require(std::char_traits<char16_t>::length(reinterpret_cast<const char16_t*>(text)) == length,
          "a getNext length differs from the string's");
}

void run(Program& program) {
  ModelService service;
  script(service);
  frostcap_snapshot* handle = nullptr;
  const auto release = [&](int verdict) {
    frostcap_snapshot_free(handle, verdict);
    handle = nullptr;
    require(service.ledger().objects == 0, "an object from the service was not released");
    require(service.ledger().componentInfo == 0, "a component description not handed back");
    require(service.misuses().empty(), "an object of the service was used wrongly");
  };

  while (!program.done()) {
    const std::uint8_t operation = program.byte();
    switch (operation) {
      case 'N':
        if (handle == nullptr) handle = frostcap_snapshot_new();
        break;
      case 'F':
        release(program.byte());
        break;
      case 'V': {
        const std::u16string path = program.text();
        frostcap_snapshot_addVolumePath(handle, host(path));
        break;
      }
      case 'W': {
        const std::u16string id = program.text();
        frostcap_snapshot_addWriter(handle, host(id));
        break;
      }
      case 'D':
      case 'G': {
        const bool database = operation == 'D';
        const std::u16string id = program.text();
        const std::u16string path = program.text();
        const std::u16string name = program.text();
        const std::u16string fallback = program.text();
        (database ? frostcap_snapshot_addWriterDatabaseComponentFallback
                  : frostcap_snapshot_addWriterFilegroupComponentFallback)(
            handle, host(id), host(path), host(name), host(fallback));
        break;
      }
      case 'I':
        frostcap_snapshot_setIncrementalMode(handle, program.byte());
        break;
      case 'S':
        frostcap_snapshot_setUseSystemProvider(handle);
        break;
      case 'A':
        checkPerform(handle, frostcap_snapshot_perform_a);
        break;
      case 'B':
        checkPerform(handle, frostcap_snapshot_perform_b);
        break;
      case 'C':
        frostcap_snapshot_loadWriterComponents(handle);
        break;
      case 'L':
        frostcap_snapshot_loadWriterFileInfo(handle);
        break;
      case 'R':
        checkRead(handle, program.byte());
        break;
      case 'P': {
        const std::u16string path = program.text();
        const int answer = frostcap_pathIsNetworkPath(host(path));
        require(answer == 0 || answer == 1, "pathIsNetworkPath answered neither 0 nor 1");
        break;
      }
      case '0':
        frostcap_library_init();
        break;
      case 'X': {
        const std::uint8_t op = program.byte();
        const std::uint8_t kind = program.byte();
        planFault(service, op, kind, program.byte());
        break;
      }
      case 'Y': {
        const std::uint8_t which = program.byte();
        failWriter(service, which, program.byte());
        break;
      }
      default:
        break;
    }
  }
  release(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Program program(data, size);
  try {
    run(program);
  } catch (...) {
    finding("an exception crossed the interface");
  }
  return 0;
}
