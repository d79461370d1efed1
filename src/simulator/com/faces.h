#pragma once

// What every object of the model's COM face shares: its reference count and
// ledger entry, the check for calls after the last Release, a guard that
// turns exceptions into statuses (none may reach a COM caller), and the
// conversions between the SDK's values and the seam's.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
// The SDK's headers build on one another in this order.
// clang-format off
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
// clang-format on

#include <atomic>
#include <bit>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "simulator/backup_components.h"
#include "simulator/com/run.h"
#include "simulator/com/task_memory.h"
#include "status/status.h"
#include "vss/seam.h"

namespace frostcap::simulator::com {

inline GUID toWindows(const vss::Guid& id) { return std::bit_cast<GUID>(id); }
inline vss::Guid fromWindows(const GUID& id) { return std::bit_cast<vss::Guid>(id); }

inline std::u16string fromWide(const wchar_t* text) {
  return text != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(text))
                         : std::u16string();
}

// Runs `body` so that no exception reaches a COM caller: the status it
// returns, or the one the exception stands for.
template <typename Body>
HRESULT guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

class FaceObject {
 public:
  FaceObject(Run& run, const char* name) : run_(run), name_(name) { run_.objectHeld(name_, 1); }
  virtual ~FaceObject() = default;
  FaceObject(const FaceObject&) = delete;
  FaceObject& operator=(const FaceObject&) = delete;

  // At the end of the process, for an object its caller never released.
  void endIfHeld() noexcept {
    if (references_ != 0) empty();
  }

 protected:
  ULONG addReference() noexcept {
    ULONG count = references_;
    do {
      if (count == 0) {
        run_.misuse(std::string("AddRef on a released ") + name_);
        return 0;
      }
    } while (!references_.compare_exchange_weak(count, count + 1));
    return count + 1;
  }

  ULONG releaseReference() noexcept {
    ULONG count = references_;
    do {
      if (count == 0) {
        run_.misuse(std::string("Release on a released ") + name_);
        return 0;
      }
    } while (!references_.compare_exchange_weak(count, count - 1));
    if (count == 1) {
      run_.objectHeld(name_, -1);
      empty();
    }
    return count - 1;
  }

  // Runs a call: E_UNEXPECTED, with a misuse in the record, after the last
  // Release; the status `body` returns otherwise, or the one an exception
  // stands for.
  template <typename Body>
  HRESULT forward(const char* call, Body&& body) noexcept {
    if (references_ == 0) {
      run_.misuse(std::string(call) + " on a released " + name_);
      return E_UNEXPECTED;
    }
    return guarded(std::forward<Body>(body));
  }

  // A document the model writes (SaveAsXML), handed out as a BSTR.
  template <typename Write>
  HRESULT documentOut(const char* call, BSTR* document, Write write) noexcept {
    return forward(call, [&]() -> HRESULT {
      if (document == nullptr) return E_INVALIDARG;
      *document = nullptr;
      std::u16string text;
      const Status status = write(text);
      if (!failed(status)) *document = string(text);
      return status;
    });
  }

  // A method the model does not play: recorded, so that the record shows
  // where a requester stopped, and answered E_NOTIMPL.
  HRESULT notPlayed(const char* call) noexcept {
    return forward(call, [&]() -> HRESULT {
      run_.simulation().note(call, std::string(name_) + "::" + call + ": not played, E_NOTIMPL");
      return E_NOTIMPL;
    });
  }

  // A BSTR of the whole text, on the ledger.
  BSTR string(const std::u16string& text) { return allocateString(&run_, text); }
  // Like the service, the face gives no string at all for an empty text,
  // which the caller must read as empty.
  BSTR stringOrNone(const std::u16string& text) {
    return text.empty() ? nullptr : allocateString(&run_, text);
  }

  Run& run() { return run_; }

  // Lets go of the model's object behind the face.
  virtual void empty() noexcept = 0;

 private:
  Run& run_;
  const char* name_;
  std::atomic<ULONG> references_{1};
};

// The IUnknown of a face whose interface has a single IUnknown, over an
// object of the model's seam. Besides IUnknown it answers to the
// interface's own id, where the SDK gives it one.
template <typename Interface, typename Seam>
class Forwarding : public Interface, public FaceObject {
 public:
  Forwarding(Run& run, const char* name, std::unique_ptr<Seam> target)
      : FaceObject(run, name), target_(std::move(target)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IUnknown) ||
        (iid == __uuidof(Interface) && __uuidof(Interface) != GUID_NULL)) {
      return give(static_cast<Interface*>(this), object);
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
  ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

 protected:
  HRESULT give(void* self, void** object) {
    if (addReference() == 0) {
      *object = nullptr;
      return E_UNEXPECTED;
    }
    *object = self;
    return S_OK;
  }
  void empty() noexcept override { target_.reset(); }
  Seam& target() { return *target_; }

 private:
  std::unique_ptr<Seam> target_;
};

// Puts the model's object, if it handed one out, behind a face of its own.
template <typename Face, typename Interface, typename Seam>
void handOut(Run& run, std::unique_ptr<Seam>& object, Interface** out) {
  *out = object ? run.make<Face>(std::move(object)) : nullptr;
}

// The faces over the model's objects, each holding one reference for its
// caller; null for no object.
IVssBackupComponents* makeBackupComponentsFace(Run& run,
                                               std::unique_ptr<ModelBackupComponents> model);
IVssAsync* makeAsyncFace(Run& run, std::unique_ptr<vss::Async> async);
IVssExamineWriterMetadata* makeWriterMetadataFace(Run& run,
                                                  std::unique_ptr<vss::WriterMetadata> metadata);
// The pointer GetWriterComponents hands out: the object's first base, with
// its IUnknown one vtable pointer further on, as the service lays it out.
IVssWriterComponentsExt* makeWriterComponentsFace(
    Run& run, std::unique_ptr<vss::WriterComponents> components);

// The system's software provider, the one provider the model plays.
inline constexpr GUID kSystemProvider = {
    0xb5946137, 0x7b9f, 0x4925, {0xaf, 0x80, 0x51, 0xab, 0xd6, 0x0b, 0x20, 0xd5}};

// Fills a record as the service does, with strings from task memory that
// VssFreeSnapshotPropertiesInternal takes back. Throws std::bad_alloc,
// leaving the record as it was.
void fillSnapshotProperties(Run& run, VSS_SNAPSHOT_PROP& properties,
                            const SnapshotProperties& described);

// What Query hands out: the copies given, or with `providers` the one
// provider the model plays.
IVssEnumObject* makeEnumFace(Run& run, bool providers, std::vector<SnapshotProperties> snapshots);

// What VssFreeSnapshotPropertiesInternal does: frees the strings of
// properties the face handed out and takes them off their run's ledger. A
// record the face did not fill is left alone, and recorded as a misuse of
// the run that made the last backup-components object.
void freeSnapshotProperties(VSS_SNAPSHOT_PROP* properties) noexcept;

}  // namespace frostcap::simulator::com
