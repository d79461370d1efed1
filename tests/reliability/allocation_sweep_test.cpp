// Memory exhaustion at every allocation of a host's road. The global operator
// new of this program counts allocations while armed and fails the n-th; for
// each export of the road, n runs from 1 until the call completes without
// reaching it. Every run must keep exceptions inside the library, leave the
// handle freeable, release every service object and free every block it
// allocated (counted here; LeakSanitizer looks too in the sanitizer build).

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "support/scenario.h"
#include "support/temp_dir.h"

namespace {

// One thread only; nothing here may allocate.
struct AllocationLimit {
  bool armed = false;
  long counted = 0;
  long failAt = 0;  // 1-based; 0 never fails
  bool reached = false;
  long liveBlocks = 0;
} limit;

void* allocate(std::size_t size, std::size_t alignment, bool nothrow) {
  if (limit.armed && ++limit.counted == limit.failAt) {
    limit.reached = true;
    if (nothrow) return nullptr;
    throw std::bad_alloc();
  }
  if (size == 0) size = 1;
  void* block = alignment > alignof(std::max_align_t)
                    ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                    : std::malloc(size);
  if (block == nullptr) {
    if (nothrow) return nullptr;
    throw std::bad_alloc();
  }
  ++limit.liveBlocks;
  return block;
}

void release(void* block) noexcept {
  if (block == nullptr) return;
  --limit.liveBlocks;
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size, 0, false); }
void* operator new[](std::size_t size) { return allocate(size, 0, false); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size, 0, true);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size, 0, true);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocate(size, static_cast<std::size_t>(alignment), false);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocate(size, static_cast<std::size_t>(alignment), false);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate(size, static_cast<std::size_t>(alignment), true);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate(size, static_cast<std::size_t>(alignment), true);
}
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete(void* block, std::align_val_t) noexcept { release(block); }
void operator delete[](void* block, std::align_val_t) noexcept { release(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { release(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  release(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  release(block);
}

namespace frostcap::test {
namespace {

struct Step {
  const char* name;
  std::function<void(frostcap_snapshot*&)> call;
};

// Host strings that exist before the limit is armed: on this platform a
// UTF-16 literal is already what the interface takes.
const frostcap_char* literal(const char16_t* text) { return text; }

// A whole backup with two writers, the catalogue and the inventory before and
// after the snapshot, every queue read, and the release. Nothing of the test's
// own allocates inside a step.
std::vector<Step> road(const std::u16string& volume) {
  const auto drainAll = [](frostcap_snapshot*& handle) {
    for (const GetNext next : kGetNextFunctions) {
      size_t length = 0;
      do {
        next(handle, &length);
      } while (length != 0);
    }
  };
  return {
      {"new", [](frostcap_snapshot*& handle) { handle = frostcap_snapshot_new(); }},
      {"pathIsNetworkPath",
       [](frostcap_snapshot*&) { frostcap_pathIsNetworkPath(literal(u"\\\\server\\share")); }},
      {"addVolumePath",
       [=](frostcap_snapshot*& handle) { frostcap_snapshot_addVolumePath(handle, host(volume)); }},
      {"addWriter",
       [](frostcap_snapshot*& handle) {
         frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
       }},
      {"addWriterDatabaseComponentFallback",
       [](frostcap_snapshot*& handle) {
         frostcap_snapshot_addWriterDatabaseComponentFallback(handle, host(kDatabaseWriterId),
                                                              literal(u"store\\main"),
                                                              literal(u"MAIL"), literal(u""));
       }},
      {"addWriterFilegroupComponentFallback",
       [](frostcap_snapshot*& handle) {
         frostcap_snapshot_addWriterFilegroupComponentFallback(handle, host(kDatabaseWriterId),
                                                               literal(u"Old\\Path"),
                                                               literal(u"Logs"), literal(u"Store"));
         frostcap_snapshot_addWriterFilegroupComponentFallback(
             handle, host(kFilesWriterId), literal(u""), literal(u"Documents"), literal(u""));
       }},
      {"setIncrementalMode",
       [](frostcap_snapshot*& handle) { frostcap_snapshot_setIncrementalMode(handle, 2); }},
      {"setUseSystemProvider",
       [](frostcap_snapshot*& handle) { frostcap_snapshot_setUseSystemProvider(handle); }},
      {"perform_a", [](frostcap_snapshot*& handle) { frostcap_snapshot_perform_a(handle); }},
      {"loadWriterComponents",
       [](frostcap_snapshot*& handle) { frostcap_snapshot_loadWriterComponents(handle); }},
      {"loadWriterFileInfo",
       [](frostcap_snapshot*& handle) { frostcap_snapshot_loadWriterFileInfo(handle); }},
      {"perform_b", [](frostcap_snapshot*& handle) { frostcap_snapshot_perform_b(handle); }},
      {"loadWriterFileInfo (in the shadow copy)",
       [](frostcap_snapshot*& handle) { frostcap_snapshot_loadWriterFileInfo(handle); }},
      {"getNext...", drainAll},
      {"free",
       [](frostcap_snapshot*& handle) {
         frostcap_snapshot_free(handle, 1);
         handle = nullptr;
       }},
  };
}

class AllocationSweep : public testing::TestWithParam<bool> {
 protected:
  AllocationSweep() {
    for (const char* name : {"live/db/main.edb", "live/logs/a.log", "live/tmp/scratch",
                             "live/docs/report.doc", "shadow/db/main.edb"}) {
      disk.file(name);
    }
  }

  void script(ModelService& service) const {
    const std::u16string live = disk.path("live");
    service.writers = twoWriters();
    WriterSpec& database = service.writers[0];
    database.components[0].files = {{live + u"db", u"*.edb", false}};
    database.components[0].logs = {{live + u"logs", u"*.log", false}};
    database.excludes = {{live + u"tmp", u"*", false}, {live + u"cache", u"*.bin", false}};
    service.writers[1].components[0].files = {{live + u"docs", u"*", false}};
    service.volumes = {{live, {}, disk.path("shadow", false)}};
    if (GetParam()) {
      service.writers[1].status = static_cast<Status>(0x80042336);
      service.writers[1].failedComponents = {
          {u"Documents",
           {static_cast<Status>(0x800423F3), static_cast<Status>(0x80070005), u"disk full"}}};
    }
  }

  // Runs the road with the armed limit around step `armed`; true when the
  // limit was reached there.
  bool run(std::size_t armed, long failAt) {
    const long liveBefore = limit.liveBlocks;
    {
      ModelService service;
      script(service);
      const std::vector<Step> steps = road(disk.path("live"));
      frostcap_snapshot* handle = nullptr;
      for (std::size_t i = 0; i < steps.size(); ++i) {
        if (i == armed) limit = {true, 0, failAt, false, limit.liveBlocks};
        try {
          steps[i].call(handle);
        } catch (...) {
          limit.armed = false;
          ADD_FAILURE() << "an exception crossed the interface in " << steps[i].name;
        }
        limit.armed = false;
      }
      EXPECT_EQ(service.ledger().objects, 0)
          << "objects obtained from the service were not released";
      EXPECT_EQ(service.ledger().componentInfo, 0) << "component descriptions not handed back";
    }
    EXPECT_EQ(limit.liveBlocks, liveBefore) << "blocks allocated in the run were not freed";
    return limit.reached;
  }

  TempDir disk;
};

TEST_P(AllocationSweep, EveryAllocationOfEveryExportMayFail) {
  run(std::size_t(-1), 0);  // once unarmed, for whatever the library sets up only once
  const std::size_t steps = road(u"").size();
  long runs = 0;
  for (std::size_t armed = 0; armed < steps; ++armed) {
    long failAt = 1;
    for (; failAt < 100000; ++failAt) {
      SCOPED_TRACE(std::string(road(u"")[armed].name) + ", allocation " + std::to_string(failAt));
      ++runs;
      if (!run(armed, failAt)) break;
      if (HasFailure()) return;
    }
    std::cout << "[ sweep    ] " << road(u"")[armed].name << ": " << failAt - 1 << " allocations\n";
  }
  RecordProperty("runs", static_cast<int>(runs));
  std::cout << "[ sweep    ] " << runs << " runs\n";
}

INSTANTIATE_TEST_SUITE_P(Roads, AllocationSweep, testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "WriterFailedInPart" : "FullBackup");
});

}  // namespace
}  // namespace frostcap::test
