// The COM adapter over the shim: what the road tests cannot see from the
// outside. Texts keep every unit and a missing one reads as empty; a missing
// path stays distinguishable from an empty one; the writer-components object
// is released through its own IUnknown; a description block stays with the
// service until handed back; snapshot properties are freed on every path; and
// statuses, success codes included, reach the library unchanged.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "com/com_shim.h"
#include "support/fake_service.h"
#include "vss/factory.h"

namespace frostcap::test {
namespace {

using namespace std::string_literals;

constexpr Status kPartialFailure = static_cast<Status>(0x80042336);
constexpr Status kObjectNotFound = static_cast<Status>(0x80042308);
constexpr Status kBadState = static_cast<Status>(0x80042301);
constexpr Status kAsyncCancelled = 0x0004230B;
constexpr Status kNoInterface = static_cast<Status>(0x80004002);
constexpr Status kFalse = 1;

const vss::Guid kWriterClass = {0xCCCCCCCC, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};
const vss::Guid kWriterInstance = {0x33333333, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};

// The library's view of the service: the adapter over the shim over the fake.
std::unique_ptr<vss::BackupComponents> open() {
  std::unique_ptr<vss::BackupComponents> backup;
  EXPECT_EQ(vss::createBackupComponents(backup), 0);
  return backup;
}

void gather(vss::BackupComponents& backup) {
  std::unique_ptr<vss::Async> async;
  ASSERT_EQ(backup.gatherWriterMetadata(async), 0);
  Status operation = 0;
  ASSERT_EQ(async->wait(), 0);
  ASSERT_EQ(async->queryStatus(operation), 0);
}

FakeWriter writerNamed(const std::u16string& text) {
  FakeWriter writer;
  writer.classId = kWriterClass;
  writer.instanceId = kWriterInstance;
  writer.name = text;
  writer.components = {{1, text, text, false, {{}, {}}, {{}}, {{}, {}, {}}}};
  writer.failure = kPartialFailure;
  writer.failedComponents = {{text, {0, 0, text}}};
  return writer;
}

TEST(Adapter, TextsKeepEveryUnitAndAMissingTextIsEmpty) {
  // The shim gives no string at all for the empty text.
  for (const std::u16string& text : {u"Plain"s, u"Two\0Parts"s, u""s}) {
    SCOPED_TRACE(text.size());
    FakeService service;
    service.writers = {writerNamed(text)};
    auto backup = open();
    ASSERT_TRUE(backup);

    vss::WriterStatus status;
    ASSERT_EQ(backup->getWriterStatus(0, status), 0);
    EXPECT_EQ(status.name, text);
    EXPECT_EQ(status.failure, kPartialFailure);
    EXPECT_EQ(status.instanceId, kWriterInstance);
    EXPECT_EQ(status.classId, kWriterClass);

    gather(*backup);
    vss::Guid instance;
    std::unique_ptr<vss::WriterMetadata> metadata;
    ASSERT_EQ(backup->getWriterMetadata(0, instance, metadata), 0);
    EXPECT_EQ(instance, kWriterInstance);
    std::unique_ptr<vss::WriterMetadataComponent> component;
    ASSERT_EQ(metadata->getComponent(0, component), 0);
    vss::ComponentInfo info;
    ASSERT_EQ(component->getComponentInfo(info), 0);
    EXPECT_EQ(info.logicalPath, text);
    EXPECT_EQ(info.componentName, text);
    EXPECT_EQ(component->freeComponentInfo(info), 0);

    std::unique_ptr<vss::WriterComponents> components;
    ASSERT_EQ(backup->getWriterComponents(0, components), 0);
    std::unique_ptr<vss::Component> failedComponent;
    ASSERT_EQ(components->getComponent(0, failedComponent), 0);
    std::u16string name = u"untouched";
    ASSERT_EQ(failedComponent->getComponentName(name), 0);
    EXPECT_EQ(name, text);
    std::unique_ptr<vss::ComponentEx2> extended;
    ASSERT_EQ(failedComponent->queryComponentEx2(extended), 0);
    vss::ComponentFailure failure;
    failure.applicationMessage = u"untouched";
    ASSERT_EQ(extended->getFailure(failure), 0);
    EXPECT_EQ(failure.applicationMessage, text);
  }
}

TEST(Adapter, APathIsMissingOnlyWhenTheServiceGivesNone) {
  struct Case {
    FakeFile file;
    std::optional<std::u16string> path;
    std::u16string filespec;
  };
  const Case cases[] = {
      {{std::nullopt, u"*.db", true}, std::nullopt, u"*.db"},
      {{u"", std::nullopt, false}, u"", u""},
      {{u"%SystemRoot%\\Logs\\", u"*", true}, u"%SystemRoot%\\Logs\\", u"*"},
      {{u"C:\\Data\0Hidden"s, u"a\0b"s, false}, u"C:\\Data\0Hidden"s, u"a\0b"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.value_or(u"(none)").size());
    FakeService service;
    service.writers = {writerNamed(u"Files")};
    service.writers[0].excludes = {c.file};
    auto backup = open();
    gather(*backup);
    vss::Guid instance;
    std::unique_ptr<vss::WriterMetadata> metadata;
    ASSERT_EQ(backup->getWriterMetadata(0, instance, metadata), 0);
    std::unique_ptr<vss::FileDescriptor> file;
    ASSERT_EQ(metadata->getExcludeFile(0, file), 0);

    std::optional<std::u16string> path = u"untouched";
    std::u16string filespec = u"untouched";
    bool recursive = !c.file.recursive;
    EXPECT_EQ(file->getPath(path), 0);
    EXPECT_EQ(file->getFilespec(filespec), 0);
    EXPECT_EQ(file->getRecursive(recursive), 0);
    EXPECT_EQ(path, c.path);
    EXPECT_EQ(filespec, c.filespec);
    EXPECT_EQ(recursive, c.file.recursive);
  }
}

TEST(Adapter, WriterComponentsAreReleasedThroughTheirOwnUnknown) {
  FakeService service;
  service.writers = {writerNamed(u"First"), writerNamed(u"Second")};
  service.writers[1].failedComponents.push_back({u"Another", {}});
  auto backup = open();
  const int before = shim::outstanding().objects;
  {
    std::unique_ptr<vss::WriterComponents> components;
    ASSERT_EQ(backup->getWriterComponents(1, components), 0);
    EXPECT_EQ(shim::outstanding().objects, before + 1);
    std::uint32_t count = 0;
    ASSERT_EQ(components->getComponentCount(count), 0);
    EXPECT_EQ(count, 2u);
    std::unique_ptr<vss::Component> component;
    ASSERT_EQ(components->getComponent(1, component), 0);
    std::u16string name;
    ASSERT_EQ(component->getComponentName(name), 0);
    EXPECT_EQ(name, u"Another");
  }
  EXPECT_EQ(shim::outstanding().objects, before);
  EXPECT_EQ(service.liveObjects(), 1);  // the backup-components object alone
}

TEST(Adapter, ADescriptionStaysWithTheServiceUntilHandedBack) {
  FakeService service;
  service.writers = {writerNamed(u"Store")};
  auto backup = open();
  gather(*backup);
  vss::Guid instance;
  std::unique_ptr<vss::WriterMetadata> metadata;
  ASSERT_EQ(backup->getWriterMetadata(0, instance, metadata), 0);
  std::unique_ptr<vss::WriterMetadataComponent> component;
  ASSERT_EQ(metadata->getComponent(0, component), 0);

  service.fail("GetComponentInfo", kBadState);
  vss::ComponentInfo refused;
  EXPECT_EQ(component->getComponentInfo(refused), kBadState);
  EXPECT_EQ(refused.block, nullptr);
  EXPECT_EQ(shim::outstanding().componentInfo, 0);

  vss::ComponentInfo info;
  ASSERT_EQ(component->getComponentInfo(info), 0);
  EXPECT_NE(info.block, nullptr);
  EXPECT_EQ(shim::outstanding().componentInfo, 1);
  EXPECT_EQ(shim::outstanding().allocations, 2u);  // the logical path and the name
  EXPECT_EQ(info.type, 1u);
  EXPECT_FALSE(info.selectable);
  EXPECT_EQ(info.fileCount, 2u);
  EXPECT_EQ(info.databaseCount, 1u);
  EXPECT_EQ(info.logFileCount, 3u);

  // The hand-back's own status reaches the caller, and the block is gone all the same.
  service.fail("FreeComponentInfo", kObjectNotFound);
  EXPECT_EQ(component->freeComponentInfo(info), kObjectNotFound);
  EXPECT_EQ(info.block, nullptr);
  EXPECT_EQ(shim::outstanding().componentInfo, 0);
  EXPECT_EQ(shim::outstanding().allocations, 0u);
}

TEST(Adapter, SnapshotPropertiesAreFreedOnEveryPath) {
  struct Case {
    const char* what;
    std::u16string deviceName;
    std::optional<Status> answer;
    Status status;
    std::u16string device;
  };
  const Case cases[] = {
      {"a device name", u"\\\\?\\GLOBALROOT\\Device\\Copy9", std::nullopt, 0,
       u"\\\\?\\GLOBALROOT\\Device\\Copy9"},
      {"no device name", u"", std::nullopt, 0, u""},
      {"a success code", u"\\\\?\\Device\\Copy", kFalse, kFalse, u"\\\\?\\Device\\Copy"},
      {"a failure", u"\\\\?\\Device\\Copy", kObjectNotFound, kObjectNotFound, u"untouched"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeService service;
    service.deviceNames = {c.deviceName};
    if (c.answer) service.answer("GetSnapshotProperties", *c.answer);
    auto backup = open();
    vss::Guid set;
    vss::Guid snapshot;
    ASSERT_EQ(backup->startSnapshotSet(set), 0);
    ASSERT_EQ(backup->addToSnapshotSet(u"C:\\", {}, snapshot), 0);
    std::u16string device = u"untouched";
    EXPECT_EQ(backup->getSnapshotProperties(snapshot, device), c.status);
    EXPECT_EQ(device, c.device);
    EXPECT_EQ(shim::outstanding().allocations, 0u);
  }
}

TEST(Adapter, StatusesReachTheLibraryUnchanged) {
  struct Case {
    const char* op;
    Status status;
    std::function<Status(vss::BackupComponents&)> call;
  };
  const auto gatherAndWait = [](vss::BackupComponents& backup) {
    std::unique_ptr<vss::Async> async;
    EXPECT_EQ(backup.gatherWriterMetadata(async), 0);
    return async->wait();
  };
  const auto gatherAndQuery = [](vss::BackupComponents& backup) {
    std::unique_ptr<vss::Async> async;
    EXPECT_EQ(backup.gatherWriterMetadata(async), 0);
    EXPECT_EQ(async->wait(), 0);
    Status operation = 0;
    EXPECT_EQ(async->queryStatus(operation), 0);
    return operation;
  };
  const auto queryExtension = [](vss::BackupComponents& backup) {
    std::unique_ptr<vss::WriterComponents> components;
    std::unique_ptr<vss::Component> component;
    EXPECT_EQ(backup.getWriterComponents(0, components), 0);
    EXPECT_EQ(components->getComponent(0, component), 0);
    std::unique_ptr<vss::ComponentEx2> extended;
    const Status status = component->queryComponentEx2(extended);
    EXPECT_EQ(extended, nullptr);
    return status;
  };
  const Case cases[] = {
      {"InitializeForBackup", kBadState, [](auto& b) { return b.initializeForBackup(); }},
      {"SetContext", kFalse, [](auto& b) { return b.setContext(0); }},
      {"EnableWriterClasses", kFalse,
       [](auto& b) { return b.enableWriterClasses({kWriterClass}); }},
      {"GatherWriterMetadata.Wait", kBadState, gatherAndWait},
      {"GatherWriterMetadata.Result", kAsyncCancelled, gatherAndQuery},
      {"GatherWriterMetadata.Result", kPartialFailure, gatherAndQuery},
      {"QueryInterface(IVssComponentEx2)", kNoInterface, queryExtension},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    FakeService service;
    service.writers = {writerNamed(u"Any")};
    service.answer(c.op, c.status);
    auto backup = open();
    EXPECT_EQ(c.call(*backup), c.status);
  }
}

}  // namespace
}  // namespace frostcap::test
