// The rules the real service keeps and the library's road never breaks, so
// that only a direct caller of the seam can see the simulator keep them too.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "simulator/simulation.h"
#include "support/temp_dir.h"
#include "vss/factory.h"

namespace frostcap::test {
namespace {

namespace fs = std::filesystem;

constexpr Status code(std::uint32_t value) { return static_cast<Status>(value); }
constexpr Status kBadState = code(0x80042301);
constexpr Status kObjectNotFound = code(0x80042308);
constexpr Status kAsyncPending = code(0x00042309);
constexpr Status kAlreadyExists = code(0x8004230D);
constexpr Status kProviderError = code(0x8004230F);

const vss::Guid kMailClass = *platform::parseGuid(u"{AAAAAAAA-0000-0000-0000-000000000001}");
const vss::Guid kMailInstance = *platform::parseGuid(u"{11111111-0000-0000-0000-000000000001}");
const vss::Guid kDocsClass = *platform::parseGuid(u"{BBBBBBBB-0000-0000-0000-000000000002}");

class ServiceRules : public testing::Test {
 protected:
  ServiceRules() {
    dir.file("volume/a.txt");
    std::ofstream(dir.host("scenario.json")) << R"({
      "volumes": [{"name": "C:\\", "directory": "volume"}],
      "writers": [
        {"classId": "{AAAAAAAA-0000-0000-0000-000000000001}",
         "instanceId": "{11111111-0000-0000-0000-000000000001}", "name": "Mail",
         "components": [{"type": "database", "logicalPath": "Mail", "name": "Box"}]},
        {"classId": "{BBBBBBBB-0000-0000-0000-000000000002}",
         "instanceId": "{22222222-0000-0000-0000-000000000002}", "name": "Docs"}],
      "faults": [{"call": "GetWriterMetadata", "status": -2147024882, "occurrence": 2}]})";
    simulation = simulator::Simulation::fromFile(dir.host("scenario.json"));
    simulation->install();
    EXPECT_EQ(vss::createBackupComponents(service), 0);
  }

  // Starts an operation and waits for it as the library does; its own status.
  template <typename Start>
  Status run(Start start) {
    std::unique_ptr<vss::Async> async;
    EXPECT_EQ(start(async), 0);
    EXPECT_EQ(async->wait(), 0);
    Status operation = 0;
    EXPECT_EQ(async->queryStatus(operation), 0);
    return operation;
  }
  Status gather() {
    return run([&](auto& async) { return service->gatherWriterMetadata(async); });
  }
  Status take() {
    return run([&](auto& async) { return service->doSnapshotSet(async); });
  }

  TempDir dir;
  std::unique_ptr<simulator::Simulation> simulation;
  std::unique_ptr<vss::BackupComponents> service;
};

TEST_F(ServiceRules, MetadataIsGatheredOnceAndReadOnlyAfterwards) {
  std::uint32_t count = 0;
  vss::Guid id;
  EXPECT_EQ(service->setContext(0), kBadState) << "before InitializeForBackup";
  ASSERT_EQ(service->initializeForBackup(), 0);
  EXPECT_EQ(service->getWriterMetadataCount(count), kBadState);

  std::unique_ptr<vss::Async> async;
  ASSERT_EQ(service->gatherWriterMetadata(async), 0);
  Status operation = 0;
  EXPECT_EQ(async->queryStatus(operation), 0);
  EXPECT_EQ(operation, kAsyncPending) << "not waited on yet";
  EXPECT_EQ(async->wait(), 0);
  EXPECT_EQ(async->queryStatus(operation), 0);
  EXPECT_EQ(operation, 0);
  EXPECT_EQ(service->gatherWriterMetadata(async), kBadState) << "a second gathering";
  EXPECT_EQ(service->enableWriterClasses({kDocsClass}), kBadState) << "after gathering";

  ASSERT_EQ(service->getWriterMetadataCount(count), 0);
  EXPECT_EQ(count, 2u);
  // The scenario fails only the second call of its name.
  std::unique_ptr<vss::WriterMetadata> metadata;
  EXPECT_EQ(service->getWriterMetadata(0, id, metadata), 0);
  EXPECT_EQ(service->getWriterMetadata(0, id, metadata), code(0x8007000E));
  EXPECT_EQ(service->getWriterMetadata(1, id, metadata), 0);
}

TEST_F(ServiceRules, ComponentsAreAddedOnlyIfAnEnabledWriterHasThem) {
  ASSERT_EQ(service->initializeForBackup(), 0);
  ASSERT_EQ(service->enableWriterClasses({kMailClass}), 0);
  ASSERT_EQ(gather(), 0);
  std::uint32_t count = 0;
  ASSERT_EQ(service->getWriterMetadataCount(count), 0);
  EXPECT_EQ(count, 1u);

  const struct {
    vss::Guid classId;
    std::uint32_t type;
    std::u16string path;
    std::u16string name;
    Status expected;
  } kCases[] = {
      {kMailClass, 1, u"Mail", u"Box", 0},
      {kMailClass, 1, u"Mail", u"Box", kAlreadyExists},
      {kMailClass, 2, u"Mail", u"Box", kObjectNotFound},
      {kMailClass, 1, u"mail", u"Box", kObjectNotFound},
      {kDocsClass, 1, u"Mail", u"Box", kObjectNotFound},
  };
  for (const auto& added : kCases) {
    EXPECT_EQ(
        service->addComponent(kMailInstance, added.classId, added.type, added.path, added.name),
        added.expected)
        << platform::wideToUtf8(added.path) << " type " << added.type;
  }
  EXPECT_EQ(service->setBackupSucceeded(kMailInstance, kMailClass, 1, u"Mail", u"Box", true), 0);
  EXPECT_EQ(service->setBackupSucceeded(kMailInstance, kMailClass, 1, u"Mail", u"Other", true),
            kObjectNotFound);
}

TEST_F(ServiceRules, SnapshotSetTakesEachVolumeOnce) {
  ASSERT_EQ(service->initializeForBackup(), 0);
  vss::Guid setId, snapshotId, again;
  std::u16string device;
  EXPECT_EQ(service->addToSnapshotSet(u"C:\\", {}, snapshotId), kBadState) << "no set started";
  ASSERT_EQ(service->startSnapshotSet(setId), 0);
  ASSERT_EQ(service->addToSnapshotSet(u"C:\\", {}, snapshotId), 0);
  EXPECT_EQ(service->addToSnapshotSet(u"c:", {}, again), kAlreadyExists);
  EXPECT_EQ(service->getSnapshotProperties(snapshotId, device), kObjectNotFound) << "not taken";
  ASSERT_EQ(take(), 0);
  ASSERT_EQ(service->getSnapshotProperties(snapshotId, device), 0);
  EXPECT_EQ(device, u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1");
  std::unique_ptr<vss::Async> async;
  EXPECT_EQ(service->doSnapshotSet(async), kBadState) << "taken already";
  EXPECT_EQ(service->addToSnapshotSet(u"C:\\", {}, again), kBadState);
}

TEST_F(ServiceRules, VolumeThatCannotBeCopiedFailsTheSnapshotAndSaysWhy) {
  ASSERT_EQ(service->initializeForBackup(), 0);
  vss::Guid setId, snapshotId;
  ASSERT_EQ(service->startSnapshotSet(setId), 0);
  ASSERT_EQ(service->addToSnapshotSet(u"C:\\", {}, snapshotId), 0);
  fs::remove_all(dir.host("volume"));
  EXPECT_EQ(take(), kProviderError);
  const auto& record = simulation->record();
  const auto why = std::find_if(record.begin(), record.end(), [](const auto& entry) {
    return entry.call == "DoSnapshotSet.Result";
  });
  ASSERT_NE(why, record.end());
  EXPECT_NE(why->text.find(dir.host("volume").string()), std::string::npos) << why->text;
  EXPECT_FALSE(simulation->hostPath(u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1"));
}

}  // namespace
}  // namespace frostcap::test
