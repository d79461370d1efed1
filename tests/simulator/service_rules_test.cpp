// The model keeps the service's documented rules, which the library never
// breaks: a direct caller of the seam breaks each, gets the real service's
// answer and finds the breach recorded; and writers come as the service has them.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "simulator/backup_components.h"
#include "simulator/scenario.h"
#include "simulator/simulation.h"
#include "support/temp_dir.h"

namespace frostcap::test {
namespace {

using simulator::WriterSpec;

constexpr Status code(std::uint32_t value) { return static_cast<Status>(value); }
constexpr Status kBadState = code(0x80042301);
constexpr Status kObjectNotFound = code(0x80042308);
constexpr Status kAlreadyExists = code(0x8004230D);
constexpr Status kProviderError = code(0x8004230F);
constexpr Status kSetInProgress = code(0x80042316);
constexpr Status kInvalidArgument = code(0x80070057);

vss::Guid guid(std::uint32_t first, std::uint8_t last) {
  return {first, 0, 0, {0, 0, 0, 0, 0, 0, 0, last}};
}

const vss::Guid kMailClass = guid(0xAAAAAAAA, 1);
const vss::Guid kDocsClass = guid(0xBBBBBBBB, 2);

WriterSpec writer(const vss::Guid& classId, std::uint8_t instance, std::u16string name,
                  std::vector<simulator::ComponentSpec> components = {}) {
  WriterSpec spec;
  spec.classId = classId;
  spec.instanceId = guid(0x11111111, instance);
  spec.name = std::move(name);
  spec.components = std::move(components);
  return spec;
}

const WriterSpec kMail = writer(kMailClass, 1, u"Mail", {{1, u"Mail", u"Box", true, {}, {}, {}}});
const WriterSpec kDocs = writer(kDocsClass, 2, u"Docs", {{2, u"", u"Files", true, {}, {}, {}}});

// One backup-components object of a model, driven call by call.
class Requester {
 public:
  explicit Requester(simulator::Scenario scenario)
      : Requester(simulator::Simulation::fromScenario(std::move(scenario))) {}
  // Another backup-components object of the same service.
  explicit Requester(std::shared_ptr<simulator::Simulation> model) : model_(std::move(model)) {
    std::unique_ptr<simulator::ModelBackupComponents> made;
    EXPECT_EQ(model_->createBackupComponents(made), 0);
    backup_ = std::move(made);
  }

  simulator::ModelBackupComponents& backup() { return *backup_; }
  const std::shared_ptr<simulator::Simulation>& model() const { return model_; }

  // Starts an operation and, unless told not to, waits for it as the library
  // does; the status of the start, or else of the operation itself.
  Status run(Status (vss::BackupComponents::*start)(std::unique_ptr<vss::Async>&),
             bool wait = true) {
    std::unique_ptr<vss::Async> async;
    const Status status = (backup_.get()->*start)(async);
    if (failed(status) || !wait) return status;
    Status operation = 0;
    EXPECT_EQ(async->wait(), 0);
    EXPECT_EQ(async->queryStatus(operation), 0);
    return operation;
  }

  std::vector<std::string> entries(const std::string& call) const {
    std::vector<std::string> found;
    for (const auto& entry : model_->record()) {
      if (entry.call == call) found.push_back(entry.text);
    }
    return found;
  }

  // One call by name; the name up to "(" is the call as the record names it.
  Status play(const std::string& step) {
    using B = vss::BackupComponents;
    simulator::ModelBackupComponents& b = *backup_;
    vss::Guid id;
    std::uint32_t count = 0;
    if (step == "InitializeForBackup") return b.initializeForBackup();
    if (step == "SetContext(0)") return b.setContext(0);
    if (step == "SetContext(16)") return b.setContext(0x10);
    if (step == "SetBackupState") return b.setBackupState(true, false, 5, false);
    if (step == "GatherWriterMetadata") return run(&B::gatherWriterMetadata);
    if (step == "GatherWriterMetadata(unwaited)") return run(&B::gatherWriterMetadata, false);
    if (step == "GetWriterMetadataCount") return b.getWriterMetadataCount(count);
    if (step == "FreeWriterMetadata") return b.freeWriterMetadata();
    if (step == "AddComponent")
      return b.addComponent(kMail.instanceId, kMailClass, 1, u"Mail", u"Box");
    if (step == "StartSnapshotSet") return b.startSnapshotSet(id);
    if (step == "AddToSnapshotSet") return b.addToSnapshotSet(u"C:\\", {}, id);
    if (step == "PrepareForBackup") return run(&B::prepareForBackup);
    if (step == "DoSnapshotSet") return run(&B::doSnapshotSet);
    if (step == "GatherWriterStatus") return run(&B::gatherWriterStatus);
    if (step == "GetWriterStatusCount") return b.getWriterStatusCount(count);
    if (step == "BackupComplete") return run(&B::backupComplete);
    if (step == "AbortBackup") return b.abortBackup();
    ADD_FAILURE() << "no step " << step;
    return kInvalidArgument;
  }

 private:
  std::shared_ptr<simulator::Simulation> model_;
  std::unique_ptr<simulator::ModelBackupComponents> backup_;
};

// The writers' road up to their preparation.
const std::string kPrepared =
    "InitializeForBackup SetContext(0) SetBackupState GatherWriterMetadata StartSnapshotSet "
    "PrepareForBackup";

// Each call after the steps before it, which succeed: its answer, and the rule
// it breaks as the record names it. An answer of 0 is a case the documentation
// leaves open: accepted, and recorded as an assumption, not as a breach.
const struct {
  std::string rule;
  std::string before;  // steps, separated by spaces
  std::string call;
  Status answer;
} kRuleCases[] = {
    {"InitializeForBackup first", "", "SetContext(0)", kBadState},
    {"InitializeForBackup once", "InitializeForBackup", "InitializeForBackup", kBadState},
    {"SetContext once", "InitializeForBackup SetContext(0)", "SetContext(16)", kBadState},
    {"GatherWriterMetadata once", "InitializeForBackup SetContext(0) GatherWriterMetadata",
     "GatherWriterMetadata", kBadState},
    {"writer metadata gathered and waited for", "InitializeForBackup", "GetWriterMetadataCount",
     kBadState},
    {"writer metadata gathered and waited for",
     "InitializeForBackup GatherWriterMetadata(unwaited)", "GetWriterMetadataCount", kBadState},
    {"writer metadata gathered and waited for",
     "InitializeForBackup GatherWriterMetadata FreeWriterMetadata", "GetWriterMetadataCount",
     kBadState},
    {"AddComponent after GatherWriterMetadata", "InitializeForBackup SetContext(0)", "AddComponent",
     kBadState},
    {"AddComponent before PrepareForBackup", kPrepared, "AddComponent", kBadState},
    {"writers taking part in the context",
     "InitializeForBackup SetContext(16) GatherWriterMetadata", "AddComponent", kBadState},
    {"StartSnapshotSet first", "InitializeForBackup", "AddToSnapshotSet", kBadState},
    {"StartSnapshotSet first", "InitializeForBackup SetContext(0) SetBackupState",
     "PrepareForBackup", kBadState},
    {"SetBackupState before PrepareForBackup", "InitializeForBackup SetContext(0) StartSnapshotSet",
     "PrepareForBackup", kBadState},
    {"one snapshot set per object", "InitializeForBackup StartSnapshotSet", "StartSnapshotSet",
     kSetInProgress},
    {"PrepareForBackup before DoSnapshotSet",
     "InitializeForBackup SetContext(0) SetBackupState StartSnapshotSet AddToSnapshotSet",
     "DoSnapshotSet", kBadState},
    {"snapshot set not yet taken",
     "InitializeForBackup SetContext(16) StartSnapshotSet AddToSnapshotSet DoSnapshotSet",
     "AddToSnapshotSet", kBadState},
    {"DoSnapshotSet before BackupComplete", kPrepared, "BackupComplete", kBadState},
    {"writer status gathered and waited for", "InitializeForBackup", "GetWriterStatusCount",
     kBadState},
    {"no call after AbortBackup", "InitializeForBackup AbortBackup", "StartSnapshotSet", kBadState},
    {"accepted before SetContext", "InitializeForBackup", "SetBackupState", 0},
    {"accepted in a context without writers", "InitializeForBackup SetContext(16)",
     "GatherWriterStatus", 0},
};

TEST(ServiceRules, EachOutOfSequenceCallAnswersAsTheServiceDoesAndIsRecorded) {
  for (const auto& c : kRuleCases) {
    SCOPED_TRACE(c.rule);
    Requester requester({{{u"C:\\", {}, std::nullopt}}, {kMail}, {}});
    std::istringstream before(c.before);
    for (std::string step; before >> step;) ASSERT_EQ(requester.play(step), 0) << step;
    const std::size_t breaches = requester.entries("Breach").size();

    EXPECT_EQ(requester.play(c.call), c.answer);
    const std::string kind = c.answer == 0 ? "Assumption" : "Breach";
    const std::vector<std::string> entries = requester.entries(kind);
    ASSERT_FALSE(entries.empty());
    const std::string call = c.call.substr(0, c.call.find('('));
    EXPECT_TRUE(entries.back().starts_with(kind + "(" + call + ": " + c.rule)) << entries.back();
    if (c.answer == 0) {
      EXPECT_EQ(requester.entries("Breach").size(), breaches);
    }
  }
}

// Writers as the real service reports them: in the order they answered, one
// entry per instance, and the writer-components list indexed on its own,
// holding only components that a writer has and that were not added before.
TEST(ServiceRules, WritersAreReportedAsScripted) {
  const WriterSpec secondMail = writer(kMailClass, 3, u"Mail (second)");
  Requester requester({{}, {kDocs, kMail, secondMail}, {}});  // not in the order of their ids
  vss::BackupComponents& backup = requester.backup();
  ASSERT_EQ(backup.initializeForBackup(), 0);
  ASSERT_EQ(backup.enableWriterClasses({kMailClass, kDocsClass}), 0);
  ASSERT_EQ(requester.run(&vss::BackupComponents::gatherWriterMetadata), 0);

  std::vector<vss::Guid> instances;
  for (std::uint32_t index = 0; index < 3; ++index) {
    vss::Guid instance;
    std::unique_ptr<vss::WriterMetadata> metadata;
    ASSERT_EQ(backup.getWriterMetadata(index, instance, metadata), 0);
    vss::WriterIdentity identity;
    ASSERT_EQ(metadata->getIdentity(identity), 0);
    EXPECT_EQ(identity.instanceId, instance);
    instances.push_back(identity.instanceId);
  }
  EXPECT_EQ(instances, (std::vector{kDocs.instanceId, kMail.instanceId, secondMail.instanceId}));

  // Only the mail writer's one component is added: the components list has
  // one entry, though three writers answered.
  const struct {
    vss::Guid instance, classId;
    std::uint32_t type;
    std::u16string path;
    Status expected;
  } kAdded[] = {
      {kMail.instanceId, kMailClass, 1, u"Mail", 0},
      {kMail.instanceId, kMailClass, 1, u"Mail", kAlreadyExists},
      {kMail.instanceId, kMailClass, 2, u"Mail", kObjectNotFound},
      {kMail.instanceId, kMailClass, 1, u"mail", kObjectNotFound},
      {kMail.instanceId, kDocsClass, 1, u"Mail", kObjectNotFound},
      {secondMail.instanceId, kMailClass, 1, u"Mail", kObjectNotFound},
  };
  for (const auto& added : kAdded) {
    EXPECT_EQ(backup.addComponent(added.instance, added.classId, added.type, added.path, u"Box"),
              added.expected)
        << platform::wideToUtf8(added.path) << " type " << added.type;
  }
  EXPECT_EQ(backup.setBackupSucceeded(kMail.instanceId, kMailClass, 1, u"Mail", u"Other", true),
            kObjectNotFound);
  std::uint32_t count = 0;
  ASSERT_EQ(backup.getWriterComponentsCount(count), 0);
  EXPECT_EQ(count, 1u);
  std::unique_ptr<vss::WriterComponents> components;
  ASSERT_EQ(backup.getWriterComponents(0, components), 0);
  vss::Guid instance, writerClass;
  ASSERT_EQ(components->getWriterInfo(instance, writerClass), 0);
  EXPECT_EQ(instance, kMail.instanceId);
  EXPECT_EQ(writerClass, kMailClass);
  EXPECT_EQ(backup.getWriterComponents(1, components), kInvalidArgument);
}

// A set's copies are made all or none, and no two live copies share a device
// name: a scenario volume may name its copy's device, which the service then
// never hands to another copy, nor to a second live copy of that volume.
TEST(ServiceRules, CopiesAreMadeWholeAndUnderNamesOfTheirOwn) {
  TempDir dir;
  dir.file("own/own.txt");
  dir.file("made/made.txt");
  const std::u16string second = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy2";
  Requester requester({{{u"C:\\", dir.host("own"), second},
                        {u"D:\\", dir.host("made"), {}},
                        {u"E:\\", dir.host("gone"), {}}},
                       {},
                       {}});
  Requester again(requester.model()), broken(requester.model());
  vss::Guid made, gone;
  std::u16string madeDevice;
  for (Requester* r : {&requester, &again, &broken}) {
    for (const char* step : {"InitializeForBackup", "SetContext(16)", "StartSnapshotSet"}) {
      ASSERT_EQ(r->play(step), 0) << step;
    }
  }
  for (Requester* r : {&requester, &again}) ASSERT_EQ(r->play("AddToSnapshotSet"), 0);
  ASSERT_EQ(requester.backup().addToSnapshotSet(u"D:\\", {}, made), 0);
  EXPECT_EQ(requester.backup().addToSnapshotSet(u"c:", {}, gone), kAlreadyExists);
  ASSERT_EQ(requester.run(&vss::BackupComponents::doSnapshotSet), 0);
  ASSERT_EQ(requester.backup().getSnapshotProperties(made, madeDevice), 0);
  // A second backup of the volume while the first holds its name: refused.
  EXPECT_EQ(again.run(&vss::BackupComponents::doSnapshotSet), kProviderError);
  for (const std::u16string& path : {second + u"\\own.txt", madeDevice + u"\\made.txt"}) {
    EXPECT_TRUE(std::filesystem::exists(requester.model()->hostPath(path).value_or("")));
  }
  // A volume that cannot be copied fails the set and says why.
  ASSERT_EQ(broken.backup().addToSnapshotSet(u"E:\\", {}, gone), 0);
  EXPECT_EQ(broken.run(&vss::BackupComponents::doSnapshotSet), kProviderError);
  const std::vector<std::string> why = broken.entries("DoSnapshotSet.Result");
  ASSERT_EQ(why.size(), 2u);  // one record for every object of the model
  EXPECT_NE(why[1].find(dir.host("gone").string()), std::string::npos) << why[1];
  EXPECT_EQ(broken.backup().getSnapshotProperties(gone, madeDevice), kObjectNotFound);
}

}  // namespace
}  // namespace frostcap::test
