// The second phase and the writer status report it makes twice.

#include <gtest/gtest.h>

#include "support/scenario.h"

namespace frostcap::test {
namespace {

constexpr std::uint32_t kProviderVeto = 0x80042306;
constexpr std::uint32_t kPartialFailure = 0x80042336;
constexpr std::uint32_t kRetryable = 0x800423F3;

class SnapshotSet : public Scenario {
 protected:
  // Both writers selected, three volumes, and the preparation done.
  void prepare() {
    selectTwoWriters();
    addVolumes({u"C:\\", u"D:\\", u"E:\\"});
    ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  }
};

struct StepCase {
  const char* name;
  std::string op;
  int occurrence;
  std::u16string label;

  friend void PrintTo(const StepCase& c, std::ostream* out) { *out << c.name; }
};

class SnapshotSetFailure : public SnapshotSet, public testing::WithParamInterface<StepCase> {};

TEST_P(SnapshotSetFailure, EndsWithTheCallsLabelAndLeavesNoMountPath) {
  const StepCase& c = GetParam();
  prepare();
  service.fail(c.op, Status(kProviderVeto), c.occurrence);
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(messages(), std::vector<std::u16string>{phaseFailed(c.label, kProviderVeto)});
  EXPECT_TRUE(mountPaths().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, SnapshotSetFailure,
    testing::Values(
        StepCase{"Start", "StartSnapshotSet", 1, u"IVssBackupComponents::StartSnapshotSet"},
        StepCase{"AddSecondVolume", "AddToSnapshotSet", 2,
                 u"IVssBackupComponents::AddToSnapshotSet"},
        StepCase{"Prepare", "PrepareForBackup", 1, u"IVssBackupComponents::PrepareForBackup"},
        StepCase{"PrepareWait", "PrepareForBackup.Wait", 1,
                 u"IVssBackupComponents::PrepareForBackup"},
        StepCase{"PrepareQuery", "PrepareForBackup.QueryStatus", 1,
                 u"IVssBackupComponents::PrepareForBackup"},
        StepCase{"PrepareResult", "PrepareForBackup.Result", 1,
                 u"IVssBackupComponents::PrepareForBackup"},
        StepCase{"GatherStatus", "GatherWriterStatus", 1,
                 u"IVssBackupComponents::GatherWriterStatus"},
        StepCase{"GatherStatusResult", "GatherWriterStatus.Result", 2,
                 u"IVssBackupComponents::GatherWriterStatus"},
        // The count reports under the gathering's label.
        StepCase{"StatusCount", "GetWriterStatusCount", 1,
                 u"IVssBackupComponents::GatherWriterStatus"},
        StepCase{"WriterStatus", "GetWriterStatus", 2, u"IVssBackupComponents::GetWriterStatus"},
        StepCase{"DoSnapshot", "DoSnapshotSet", 1, u"IVssBackupComponents::DoSnapshotSet"},
        StepCase{"DoSnapshotResult", "DoSnapshotSet.Result", 1,
                 u"IVssBackupComponents::DoSnapshotSet"},
        StepCase{"Properties", "GetSnapshotProperties", 1,
                 u"IVssBackupComponents::GetSnapshotProperties"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SnapshotSet, ExceptionsBecomeMessages) {
  prepare();
  // Thrown before the set starts, so that the phase can run again.
  service.raise("StartSnapshotSet", Throw::kStandard);
  service.raise("StartSnapshotSet", Throw::kNonStandard, 2);
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(messages(),
            (std::vector<std::u16string>{
                u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}: fault injected "
                u"into StartSnapshotSet)",
                u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}: {ERR_UNCAUGHT})"}));
}

TEST_F(SnapshotSet, PropertiesFailingForTheSecondCopyKeepTheFirstAndMarkTheHandleUsed) {
  prepare();
  service.fail("GetSnapshotProperties", Status(kProviderVeto), 2);
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(state().shadowDevices.size(), 1u);
  EXPECT_TRUE(mountPaths().empty());
  messages();
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"{WARNING_PREFIX}{ERR_SNAPSHOT_REUSE}"});
}

TEST_F(SnapshotSet, AFailureBeforeTheCopiesLetsThePhaseRunAgain) {
  prepare();
  service.fail("StartSnapshotSet", Status(kProviderVeto));
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 0);
  EXPECT_EQ(mountPaths().size(), 3u);
}

TEST_F(SnapshotSet, AFailedWriterIsNamedWithItsStatus) {
  service.writers[1].status = Status(kRetryable);
  prepare();
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(messages(),
            std::vector<std::u16string>{
                u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} (IVssBackupComponents::GetWriterStatus(Files "
                u"Writer): " +
                formatStatus(Status(kRetryable)) + u")"});
  EXPECT_EQ(service.count("GetWriterComponents"), 0);
  EXPECT_EQ(service.count("DoSnapshotSet"), 0) << "the check after preparation stops the phase";
}

TEST_F(SnapshotSet, APositiveWriterStatusIsNoFailure) {
  service.writers[0].status = Status{0x0004230A};
  prepare();
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 0);
}

TEST_F(SnapshotSet, APartlyFailedWriterReportsEachComponentThenFails) {
  service.writers[0].status = Status(kPartialFailure);
  service.writers[0].failedComponents = {
      {u"Mail", {Status(kRetryable), Status(0x80070005), u"disk full"}},
      {u"Logs", {0, 0, u""}},          // nothing to report
      {u"Index", {0, 0, u"rebuilt"}},  // only the writer's own text
  };
  service.writers[1].status = Status(kPartialFailure);  // never reached
  prepare();
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(
      messages(),
      (std::vector<std::u16string>{
          u"{ERR_COMPONENT_VSS}: (Mail): " + formatStatus(Status(kRetryable)),
          u"{ERR_COMPONENT_APP}: (Mail): " + formatStatus(Status(0x80070005)),
          u"{ERR_COMPONENT_CUST}: (Mail): disk full", u"{ERR_COMPONENT_CUST}: (Index): rebuilt",
          u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} (IVssBackupComponents::GetWriterStatus("
          u"Database Writer): " +
              formatStatus(Status(kPartialFailure)) + u")"}));
  EXPECT_EQ(service.count("GetWriterComponents"), 1);
}

TEST_F(SnapshotSet, APartlyFailedWriterWithoutComponentsStillFails) {
  service.writers[0].status = Status(kPartialFailure);
  prepare();
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(messages(),
            std::vector<std::u16string>{u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} (IVssBackupComponents::"
                                        u"GetWriterStatus(Database Writer): " +
                                        formatStatus(Status(kPartialFailure)) + u")"});
}

TEST_F(SnapshotSet, EachStepOfTheDrillDownFailsUnderItsOwnLabel) {
  const std::pair<std::string, std::u16string> steps[] = {
      {"GetWriterComponents", u"IVssBackupComponents::GetWriterComponents"},
      {"GetComponentCount", u"IVssWriterComponents::GetComponentCount"},
      {"IVssWriterComponents::GetComponent", u"IVssWriterComponents::GetComponent"},
      {"GetComponentName", u"IVssComponent::GetComponentName"},
      {"QueryInterface", u"QueryInterface(IID_IVssComponentEx2)"},
      {"GetFailure", u"IVssComponentEx2::GetFailure"},
  };
  for (const auto& [op, label] : steps) {
    ModelService fresh;
    fresh.writers = twoWriters();
    fresh.writers[0].status = Status(kPartialFailure);
    fresh.writers[0].failedComponents = {{u"Mail", {Status(kRetryable), 0, u""}}};
    fresh.fail(op, Status(kProviderVeto));
    frostcap_snapshot* other = frostcap_snapshot_new();
    frostcap_snapshot_addWriter(other, host(kDatabaseWriterId));
    frostcap_snapshot_addWriter(other, host(kFilesWriterId));
    ASSERT_EQ(frostcap_snapshot_perform_a(other), 0);
    EXPECT_EQ(frostcap_snapshot_perform_b(other), 1);
    EXPECT_EQ(drain(other, frostcap_snapshot_getNextMessage),
              std::vector<std::u16string>{
                  phaseFailed(u"VSS_E_WRITERERROR_PARTIAL_FAILURE -> " + label, kProviderVeto)})
        << op;
    frostcap_snapshot_free(other, 0);
    EXPECT_EQ(fresh.ledger().objects, 0) << op;
  }
}

}  // namespace
}  // namespace frostcap::test
