// The exported functions as a host calls them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/snapshot.h"
#include "frostcap.h"
#include "platform/platform.h"
#include "status/status.h"
#include "support/host_strings.h"
#include "support/last_error.h"
#include "vss/factory.h"

namespace frostcap {
namespace {

using test::drain;
using test::host;

class Exports : public testing::Test {
 protected:
  void TearDown() override { frostcap_snapshot_free(handle_, 0); }

  frostcap_snapshot* handle_ = frostcap_snapshot_new();
  Snapshot& snapshot_ = handle_->state;
};

TEST_F(Exports, InitialisesOnlyOnce) {
  frostcap_library_init();
  test::setLastError(5);
  frostcap_library_init();  // a second call touches nothing
  EXPECT_EQ(test::lastError(), 5u);
}

TEST(PathIsNetworkPath, AnswersInTheReversedSense) {
  struct Case {
    std::u16string path;
    int expected;
  };
  const Case cases[] = {
      {u"\\\\server\\share", 0},
      {u"\\\\server\\share\\dir\\file.txt", 0},
      {u"C:\\", 1},
      {u"C:\\Windows\\System32", 1},
      {u"relative\\path", 1},
      {u"", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(frostcap_pathIsNetworkPath(host(c.path)), c.expected) << test::utf8(c.path);
  }
  EXPECT_EQ(frostcap_pathIsNetworkPath(nullptr), 1);
}

TEST_F(Exports, AFreshHandleHasTheDefaults) {
  EXPECT_EQ(snapshot_.backupType, 2u);
  EXPECT_EQ(snapshot_.providerId, platform::Guid{});
  EXPECT_FALSE(snapshot_.backupComponents);
  for (auto next : test::kGetNextFunctions) {
    size_t length = 7;
    const frostcap_char* text = next(handle_, &length);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(length, 0u);
  }
}

TEST_F(Exports, SettersStoreWhatTheyAreGiven) {
  frostcap_snapshot_setIncrementalMode(handle_, 7);
  EXPECT_EQ(snapshot_.backupType, 7u);
  frostcap_snapshot_setUseSystemProvider(handle_);
  EXPECT_EQ(platform::formatGuid(snapshot_.providerId), u"{B5946137-7B9F-4925-AF80-51ABD60B20D5}");
  frostcap_snapshot_addVolumePath(handle_, host(u"C:\\"));
  frostcap_snapshot_addVolumePath(handle_, nullptr);
  frostcap_snapshot_addVolumePath(handle_, host(u"C:\\"));
  EXPECT_EQ(snapshot_.volumePaths, (std::vector<std::u16string>{u"C:\\", u"", u"C:\\"}));
}

TEST_F(Exports, PreparationReportsAServiceThatCannotBeReached) {
  EXPECT_EQ(frostcap_snapshot_perform_a(handle_), 1);
  EXPECT_EQ(drain(handle_, frostcap_snapshot_getNextMessage),
            std::vector<std::u16string>{u"{FATAL_PREFIX}{ERR_INIT_VSS} (" +
                                        formatStatus(static_cast<Status>(0x80004001)) + u")"});
}

TEST_F(Exports, SnapshotWithoutVolumesOrWritersIsRefused) {
  EXPECT_EQ(frostcap_snapshot_perform_b(handle_), 1);
  EXPECT_EQ(drain(handle_, frostcap_snapshot_getNextMessage),
            std::vector<std::u16string>{u"{FATAL_PREFIX}{ERR_NO_VOLUMES}"});
}

TEST_F(Exports, SnapshotWithoutPreparationIsRefused) {
  frostcap_snapshot_addVolumePath(handle_, host(u"C:\\"));
  EXPECT_EQ(frostcap_snapshot_perform_b(handle_), 1);
  EXPECT_EQ(drain(handle_, frostcap_snapshot_getNextMessage),
            std::vector<std::u16string>{
                u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}{ERR_NOT_READY})"});
}

TEST_F(Exports, AHandleThatMadeItsSnapshotRefusesBothPhases) {
  int factoryCalls = 0;
  const auto previous =
      vss::setBackupComponentsFactory([&](std::unique_ptr<vss::BackupComponents>&) {
        ++factoryCalls;
        return Status{0};
      });
  snapshot_.volumePaths.push_back(u"C:\\");
  snapshot_.shadowDevices.push_back(u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1");
  EXPECT_EQ(frostcap_snapshot_perform_a(handle_), 1);
  EXPECT_EQ(frostcap_snapshot_perform_b(handle_), 1);
  vss::setBackupComponentsFactory(previous);
  EXPECT_EQ(factoryCalls, 0);
  EXPECT_EQ(drain(handle_, frostcap_snapshot_getNextMessage),
            (std::vector<std::u16string>{u"{WARNING_PREFIX}{ERR_SNAPSHOT_REUSE}",
                                         u"{WARNING_PREFIX}{ERR_SNAPSHOT_REUSE}"}));
  EXPECT_TRUE(snapshot_.mountPaths.empty());
}

TEST_F(Exports, CatalogueBeforePreparationIsNotReady) {
  frostcap_snapshot_loadWriterComponents(handle_);
  EXPECT_EQ(drain(handle_, frostcap_snapshot_getNextMessage),
            std::vector<std::u16string>{u"{WARNING_PREFIX} ({FATAL_PREFIX}{ERR_NOT_READY})"});
  EXPECT_TRUE(snapshot_.writerComponents.empty());
}

TEST_F(Exports, InventoryBeforePreparationIsNotReady) {
  frostcap_snapshot_loadWriterFileInfo(handle_);
  EXPECT_EQ(drain(handle_, frostcap_snapshot_getNextMessage),
            std::vector<std::u16string>{
                u"{WARNING_PREFIX}{ERR_FILE_SET} ({FATAL_PREFIX}{ERR_NOT_READY})"});
}

TEST(ExportsWithoutHandle, AHandleOnWhichNoPhaseRanIsFreedWithoutAServiceCall) {
  int factoryCalls = 0;
  const auto previous =
      vss::setBackupComponentsFactory([&](std::unique_ptr<vss::BackupComponents>&) {
        ++factoryCalls;
        return Status{0};
      });
  frostcap_snapshot* handle = frostcap_snapshot_new();
  frostcap_snapshot_addVolumePath(handle, host(u"C:\\"));
  frostcap_snapshot_addWriter(handle, host(u"{11111111-2222-3333-4444-555555555555}"));
  frostcap_snapshot_free(handle, 1);
  vss::setBackupComponentsFactory(previous);
  EXPECT_EQ(factoryCalls, 0);
}

}  // namespace
}  // namespace frostcap
