#include "com/task_allocations.h"

#include <objbase.h>

#include <cstring>
#include <mutex>
#include <new>
#include <set>

namespace frostcap::test::shim {
namespace {

// Set while the shim itself allocates: only those blocks are accounted for.
thread_local bool marking = false;

class MarkingScope {
 public:
  MarkingScope() { marking = true; }
  ~MarkingScope() { marking = false; }
  MarkingScope(const MarkingScope&) = delete;
  MarkingScope& operator=(const MarkingScope&) = delete;
};

class TaskAllocatorSpy final : public IMallocSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
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
    if (marking && block != nullptr) {
      std::lock_guard lock(mutex_);
      marked_.insert(block);
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

  std::size_t outstanding() {
    std::lock_guard lock(mutex_);
    return marked_.size();
  }
  void forget() {
    std::lock_guard lock(mutex_);
    marked_.clear();
  }

 private:
  std::mutex mutex_;
  std::set<void*> marked_;
};

TaskAllocatorSpy spy;

}  // namespace

bool watchTaskAllocator() {
  // SetOaNoCache is exported by oleaut32 without being declared in its header.
  using SetOaNoCache = void(WINAPI*)();
  const HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
  const auto disableCache =
      oleaut != nullptr ? reinterpret_cast<SetOaNoCache>(
                              reinterpret_cast<void*>(GetProcAddress(oleaut, "SetOaNoCache")))
                        : nullptr;
  if (disableCache == nullptr) return false;
  disableCache();
  return SUCCEEDED(CoRegisterMallocSpy(&spy));
}

BSTR allocateString(std::u16string_view text) {
  MarkingScope scope;
  BSTR string = SysAllocStringLen(reinterpret_cast<const wchar_t*>(text.data()),
                                  static_cast<UINT>(text.size()));
  if (string == nullptr) throw std::bad_alloc();
  return string;
}

wchar_t* allocateTaskString(std::u16string_view text) {
  MarkingScope scope;
  auto* string = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (string == nullptr) throw std::bad_alloc();
  std::memcpy(string, text.data(), text.size() * sizeof(wchar_t));
  string[text.size()] = L'\0';
  return string;
}

std::size_t outstandingAllocations() { return spy.outstanding(); }

void forgetAllocations() { spy.forget(); }

}  // namespace frostcap::test::shim
