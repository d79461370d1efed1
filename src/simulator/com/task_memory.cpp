#include "simulator/com/task_memory.h"

#include <objbase.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace frostcap::simulator::com {
namespace {

// Whose blocks the face is allocating on this thread, if any: only those
// blocks are accounted for.
thread_local const void* marking = nullptr;

class MarkingScope {
 public:
  explicit MarkingScope(const void* owner) { marking = owner; }
  ~MarkingScope() { marking = nullptr; }
  MarkingScope(const MarkingScope&) = delete;
  MarkingScope& operator=(const MarkingScope&) = delete;
};

class TaskAllocatorSpy final : public IMallocSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMallocSpy)) {
      *object = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The spy lives as long as the process; COM's references do not own it.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    if (marking != nullptr && block != nullptr) {
      std::lock_guard lock(mutex_);
      marked_[block] = marking;
    }
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
    std::lock_guard lock(mutex_);
    marked_.erase(block);
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** request, BOOL) override {
    *request = block;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int allocated) override { return allocated; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

  std::size_t outstanding(const void* owner) {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& [block, marker] : marked_) count += marker == owner ? 1 : 0;
    return count;
  }

 private:
  std::mutex mutex_;
  std::map<void*, const void*> marked_;
};

// Never destroyed: COM may call the spy until the very end of the process.
TaskAllocatorSpy& spy() {
  static TaskAllocatorSpy* instance = new TaskAllocatorSpy;
  return *instance;
}

std::atomic<bool> watching{false};

}  // namespace

bool watchTaskAllocator() {
  static const bool watched = [] {
    // SetOaNoCache is exported by oleaut32 without being declared in its header.
    using SetOaNoCache = void(WINAPI*)();
    const HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
    const auto disableCache =
        oleaut != nullptr ? reinterpret_cast<SetOaNoCache>(
                                reinterpret_cast<void*>(GetProcAddress(oleaut, "SetOaNoCache")))
                          : nullptr;
    if (disableCache == nullptr) return false;
    disableCache();
    return SUCCEEDED(CoRegisterMallocSpy(&spy()));
  }();
  watching = watched;
  return watched;
}

BSTR allocateString(const void* owner, std::u16string_view text) {
  MarkingScope scope(owner);
  BSTR string = SysAllocStringLen(reinterpret_cast<const wchar_t*>(text.data()),
                                  static_cast<UINT>(text.size()));
  if (string == nullptr) throw std::bad_alloc();
  return string;
}

wchar_t* allocateTaskString(const void* owner, std::u16string_view text) {
  MarkingScope scope(owner);
  auto* string = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (string == nullptr) throw std::bad_alloc();
  std::memcpy(string, text.data(), text.size() * sizeof(wchar_t));
  string[text.size()] = L'\0';
  return string;
}

std::optional<std::size_t> outstandingStrings(const void* owner) {
  if (!watching) return std::nullopt;
  return spy().outstanding(owner);
}

}  // namespace frostcap::simulator::com
