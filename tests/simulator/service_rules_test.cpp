// The model keeps the service's documented rules, which the library never
// breaks: a direct caller of the seam breaks each, gets the real service's
// answer and finds the breach recorded; and writers come as the service has them.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "simulator/backup_components.h"
#include "simulator/scenario.h"
#include "simulator/simulation.h"
#include "simulator/volume_names.h"
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
constexpr Status kVolumesReached = code(0x80042312);
constexpr Status kNotByProvider = code(0x8004230E);

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
  // Lets go of the object, as a requester releases it.
  void release() { backup_.reset(); }

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

  // The first of the calls that fails, each played in turn; empty when none does.
  std::string failing(std::initializer_list<const char*> steps) {
    for (const char* step : steps) {
      if (play(step) != 0) return step;
    }
    return {};
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
    if (step == "SetBackupSucceeded")
      return b.setBackupSucceeded(kMail.instanceId, kMailClass, 1, u"Mail", u"Box", true);
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
  bool refuseUnprepared = false;  // the scenario's switch
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
    {"accepted after SetBackupState", "InitializeForBackup SetBackupState", "SetContext(0)", 0},
    {"accepted in a context without writers", "InitializeForBackup SetContext(16)",
     "GatherWriterStatus", 0},
    {"GatherWriterMetadata before GatherWriterStatus", "InitializeForBackup SetContext(16)",
     "GatherWriterStatus", kBadState, true},
    {"accepted for a component not added", kPrepared, "SetBackupSucceeded", 0},
    {"SetBackupSucceeded for a component added", kPrepared, "SetBackupSucceeded", kObjectNotFound,
     true},
    {"accepted in a context with writers without GatherWriterMetadata",
     "InitializeForBackup SetContext(0) SetBackupState StartSnapshotSet AddToSnapshotSet",
     "PrepareForBackup", 0},
};

TEST(ServiceRules, EachOutOfSequenceCallAnswersAsTheServiceDoesAndIsRecorded) {
  for (const auto& c : kRuleCases) {
    SCOPED_TRACE(c.rule);
    Requester requester({{{u"C:\\", {}, std::nullopt}}, {kMail}, {}, c.refuseUnprepared});
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
    ASSERT_EQ(r->failing({"InitializeForBackup", "SetContext(16)", "StartSnapshotSet"}), "");
  }
  for (Requester* r : {&requester, &again}) ASSERT_EQ(r->play("AddToSnapshotSet"), 0);
  ASSERT_EQ(requester.backup().addToSnapshotSet(u"D:\\", {}, made), 0);
  EXPECT_EQ(requester.backup().addToSnapshotSet(u"c:/", {}, gone), kAlreadyExists);
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

// The volume names the service takes, and the limit of a set.
TEST(ServiceRules, VolumesAreNamedAsTheServiceNamesThem) {
  std::vector<simulator::Volume> volumes{{u"C:\\", {}, std::nullopt},
                                         {u"C:\\Mount\\Data\\", {}, std::nullopt}};
  for (int i = 0; i < 64; ++i) {
    volumes.push_back(
        {u"E:\\Mount\\" + platform::utf8ToWide(std::to_string(i)) + u"\\", {}, std::nullopt});
  }
  // Under Wine the system's name for the prefix's C:, otherwise the model's.
  const std::u16string guidPath =
      simulator::systemVolumeGuidPath(u"C:\\").value_or(simulator::madeUpVolumeGuidPath(1));
  const struct {
    std::u16string name;
    Status answer;
    bool breach;
  } kNames[] = {
      {u"C:\\", 0, false},
      {u"c:/", 0, false},
      {guidPath, 0, false},
      {u"C:\\Mount\\Data\\", 0, false},
      {u"C:", kObjectNotFound, true},
      {guidPath.substr(0, guidPath.size() - 1), kObjectNotFound, true},
      {u"C:\\Mount\\Data", kObjectNotFound, true},
      {u"D:\\", kObjectNotFound, false},
  };
  for (const auto& c : kNames) {
    SCOPED_TRACE(platform::wideToUtf8(c.name));
    Requester requester({volumes, {}, {}});
    ASSERT_EQ(requester.failing({"InitializeForBackup", "SetContext(16)", "StartSnapshotSet"}), "");
    vss::Guid id;
    EXPECT_EQ(requester.backup().addToSnapshotSet(c.name, {}, id), c.answer);
    EXPECT_EQ(requester.entries("Breach").size(), c.breach ? 1u : 0u);
  }

  Requester requester({volumes, {}, {}});
  ASSERT_EQ(requester.failing({"InitializeForBackup", "SetContext(16)", "StartSnapshotSet"}), "");
  vss::Guid id;
  for (std::size_t i = 0; i < 64; ++i) {
    ASSERT_EQ(requester.backup().addToSnapshotSet(volumes[i].name, {}, id), 0) << i;
  }
  EXPECT_EQ(requester.backup().addToSnapshotSet(volumes[64].name, {}, id), kVolumesReached);
  ASSERT_EQ(requester.entries("Breach").size(), 1u);
  EXPECT_NE(requester.entries("Breach")[0].find("at most 64 volumes"), std::string::npos);
}

// Every context: what SetContext and the set answer, whether the copy outlives
// its object and its run, and that Query and DeleteSnapshots reach it from
// another object of the same or a later run.
TEST(ServiceRules, EachContextKeepsItsCopiesAsLongAsTheServiceDoes) {
  TempDir dir;
  dir.file("volume/a.txt");
  const simulator::Scenario scenario{{{u"C:\\", dir.host("volume"), std::nullopt}}, {kMail}, {}};
  constexpr std::int32_t kAll = -1;
  const struct {
    std::string name;
    std::int32_t context;
    Status setContext, addToSet;  // answers; a failure ends the case there
    bool persistent;
  } kContexts[] = {
      {"VSS_CTX_BACKUP", 0x00, 0, 0, false},
      {"VSS_CTX_FILE_SHARE_BACKUP", 0x10, 0, 0, false},
      {"VSS_CTX_NAS_ROLLBACK", 0x19, 0, 0, true},
      {"VSS_CTX_APP_ROLLBACK", 0x09, 0, 0, true},
      {"VSS_CTX_CLIENT_ACCESSIBLE", 0x1D, 0, 0, true},
      {"VSS_CTX_CLIENT_ACCESSIBLE_WRITERS", 0x0D, 0, 0, true},
      {"VSS_CTX_APP_ROLLBACK with rollback recovery", 0x800009, 0, 0, true},
      {"VSS_CTX_APP_ROLLBACK, transportable", 0x29, 0, kNotByProvider, true},
      {"VSS_CTX_ALL", kAll, 0, kBadState, false},
      {"no context", 0x02, kInvalidArgument, 0, false},
  };
  using B = vss::BackupComponents;
  for (const auto& c : kContexts) {
    SCOPED_TRACE(c.name);
    auto first = std::make_unique<Requester>(scenario);
    simulator::ModelBackupComponents& backup = first->backup();
    ASSERT_EQ(backup.initializeForBackup(), 0);
    ASSERT_EQ(backup.setContext(c.context), c.setContext);
    if (failed(c.setContext)) continue;
    const bool writers = (c.context & 0x10) == 0;
    vss::Guid setId, snapshotId;
    if (writers) {
      ASSERT_EQ(backup.setBackupState(false, false, 5, false), 0);
      ASSERT_EQ(first->run(&B::gatherWriterMetadata), 0);
    }
    const Status started = backup.startSnapshotSet(setId);
    if (c.context == kAll) {
      EXPECT_EQ(started, c.addToSet);
      continue;
    }
    ASSERT_EQ(started, 0);
    ASSERT_EQ(backup.addToSnapshotSet(u"C:\\", {}, snapshotId), c.addToSet);
    if (failed(c.addToSet)) continue;
    if (writers) {
      ASSERT_EQ(first->run(&B::prepareForBackup), 0);
    }
    ASSERT_EQ(first->run(&B::doSnapshotSet), 0);

    // The object finds the copy, its properties and the volume's GUID path.
    simulator::SnapshotProperties properties;
    ASSERT_EQ(backup.snapshotProperties(snapshotId, properties), 0);
    EXPECT_EQ(properties.setId, setId);
    EXPECT_EQ(properties.volumeName, simulator::systemVolumeGuidPath(u"C:\\").value_or(
                                         simulator::madeUpVolumeGuidPath(1)));
    std::vector<simulator::SnapshotProperties> listed;
    ASSERT_EQ(backup.query({}, 1, 3, listed), 0);
    EXPECT_EQ(std::count_if(listed.begin(), listed.end(),
                            [&](const auto& p) { return p.id == snapshotId; }),
              1);

    // The object goes, then the run: only a persistent copy is left.
    first->release();
    first.reset();
    Requester later(scenario);
    ASSERT_EQ(later.backup().initializeForBackup(), 0);
    ASSERT_EQ(later.backup().setContext(kAll), 0);
    listed.clear();
    ASSERT_EQ(later.backup().query({}, 1, 3, listed), 0);
    const bool left = std::any_of(listed.begin(), listed.end(), [&](const auto& p) {
      return p.setId == setId && p.id == snapshotId;
    });
    EXPECT_EQ(left, c.persistent);
    if (!c.persistent) continue;
    EXPECT_TRUE(std::filesystem::exists(properties.directory / "a.txt"));
    std::int32_t deleted = 0;
    vss::Guid notDeleted;
    EXPECT_EQ(later.backup().deleteSnapshots(setId, 2, false, deleted, notDeleted), 0);
    EXPECT_EQ(deleted, 1);
    EXPECT_FALSE(std::filesystem::exists(properties.directory));
    EXPECT_EQ(later.backup().deleteSnapshots(setId, 2, false, deleted, notDeleted),
              kObjectNotFound);
  }
}

#ifndef _WIN32
// A persistent copy outlives the process that made it: another process lists,
// describes and deletes it. (Under Wine the steps of tests/requester show the
// same, each step a process of its own.)
TEST(ServiceRules, PersistentCopiesOutliveTheProcessThatMadeThem) {
  TempDir dir;
  dir.file("volume/a.txt");
  const simulator::Scenario scenario{{{u"C:\\", dir.host("volume"), std::nullopt}}, {}, {}};
  int ids[2];
  ASSERT_EQ(pipe(ids), 0);
  const pid_t maker = fork();
  ASSERT_GE(maker, 0);
  if (maker == 0) {
    vss::Guid made[2] = {};
    bool taken = false;
    {
      Requester requester(scenario);  // ends with its object and model
      simulator::ModelBackupComponents& backup = requester.backup();
      taken = backup.initializeForBackup() == 0 && backup.setContext(0x19) == 0 &&
              backup.startSnapshotSet(made[0]) == 0 &&
              backup.addToSnapshotSet(u"C:\\", {}, made[1]) == 0 &&
              requester.run(&vss::BackupComponents::doSnapshotSet) == 0;
    }
    if (taken) [[maybe_unused]]
      const auto written = write(ids[1], made, sizeof(made));
    _exit(0);
  }
  close(ids[1]);
  vss::Guid made[2] = {};
  ASSERT_EQ(read(ids[0], made, sizeof(made)), static_cast<ssize_t>(sizeof(made)));
  close(ids[0]);
  int ended = 0;
  ASSERT_EQ(waitpid(maker, &ended, 0), maker);

  // A new copy first sweeps the copies of ended processes.
  Requester sweeper(scenario);
  ASSERT_EQ(sweeper.failing({"InitializeForBackup", "SetContext(16)", "StartSnapshotSet",
                             "AddToSnapshotSet", "DoSnapshotSet"}),
            "");
  Requester later(scenario);
  ASSERT_EQ(later.backup().initializeForBackup(), 0);
  ASSERT_EQ(later.backup().setContext(-1), 0);
  simulator::SnapshotProperties properties;
  ASSERT_EQ(later.backup().snapshotProperties(made[1], properties), 0);
  EXPECT_EQ(properties.setId, made[0]);
  EXPECT_TRUE(std::filesystem::exists(properties.directory / "a.txt"));
  std::int32_t deleted = 0;
  vss::Guid notDeleted;
  EXPECT_EQ(later.backup().deleteSnapshots(made[1], 3, false, deleted, notDeleted), 0);
  EXPECT_EQ(deleted, 1);
  EXPECT_FALSE(std::filesystem::exists(properties.directory));
}
#endif

// A copy that is not persistent is listed and deleted from another object
// of the run, after which its own object no longer knows it.
TEST(ServiceRules, QueryAndDeleteReachTheCopiesOfOtherObjects) {
  TempDir dir;
  dir.file("volume/a.txt");
  const simulator::Scenario scenario{{{u"C:\\", dir.host("volume"), std::nullopt}}, {}, {}};
  Requester owner(scenario);
  vss::Guid snapshotId;
  ASSERT_EQ(owner.failing({"InitializeForBackup", "SetContext(16)", "StartSnapshotSet"}), "");
  ASSERT_EQ(owner.backup().addToSnapshotSet(u"C:\\", {}, snapshotId), 0);
  ASSERT_EQ(owner.play("DoSnapshotSet"), 0);

  std::unique_ptr<simulator::ModelBackupComponents> other;
  ASSERT_EQ(owner.model()->createBackupComponents(other), 0);
  ASSERT_EQ(other->initializeForBackup(), 0);
  std::vector<simulator::SnapshotProperties> listed;
  // In the default context: the copy was made in another.
  ASSERT_EQ(other->query({}, 1, 3, listed), 0);
  EXPECT_TRUE(listed.empty());
  EXPECT_EQ(other->query({}, 1, 2, listed), kInvalidArgument);
  ASSERT_EQ(other->setContext(0x10), 0);
  ASSERT_EQ(other->query({}, 1, 3, listed), 0);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].id, snapshotId);
  std::int32_t deleted = 0;
  vss::Guid notDeleted;
  EXPECT_EQ(other->deleteSnapshots(snapshotId, 3, false, deleted, notDeleted), 0);
  EXPECT_EQ(deleted, 1);
  EXPECT_FALSE(std::filesystem::exists(listed[0].directory));
  std::u16string device;
  EXPECT_EQ(owner.backup().getSnapshotProperties(snapshotId, device), kObjectNotFound);
}

}  // namespace
}  // namespace frostcap::test
