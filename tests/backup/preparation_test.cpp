// The preparation phase: its calls, what it makes of the host's selections,
// and the one message each way of failing leaves.

#include <gtest/gtest.h>

#include "support/scenario.h"

namespace frostcap::test {
namespace {

constexpr std::uint32_t kAccessDenied = 0x80070005;
constexpr std::uint32_t kBadState = 0x80042301;

struct FailureCase {
  const char* name;
  std::string op;
  int occurrence;
  Throw raised;
  std::vector<std::u16string> expected;

  friend void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }
};

FailureCase failing(const char* name, const std::string& op, int occurrence,
                    std::vector<std::u16string> expected) {
  return {name, op, occurrence, Throw::kNothing, std::move(expected)};
}

class PreparationFailure : public Scenario, public testing::WithParamInterface<FailureCase> {};

TEST_P(PreparationFailure, EndsWithItsMessage) {
  const FailureCase& c = GetParam();
  if (c.raised == Throw::kNothing) {
    service.fail(c.op, static_cast<Status>(kAccessDenied), c.occurrence);
  } else {
    service.raise(c.op, c.raised, c.occurrence);
  }
  selectTwoWriters();
  addVolumes({u"C:\\"});
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(messages(), c.expected);
}

const std::u16string kNoComponentMail =
    u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}{ERR_NO_COMPONENT} (Path=store\\main "
    u"Name=MAIL))";

INSTANTIATE_TEST_SUITE_P(
    EveryStep, PreparationFailure,
    testing::Values(
        failing("Create", "CreateVssBackupComponents", 1,
                {u"{FATAL_PREFIX}{ERR_INIT_VSS} (" + formatStatus(Status(kAccessDenied)) + u")"}),
        // The status of a refused initialisation is not shown.
        failing("Initialize", "InitializeForBackup", 1,
                {u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({WARNING_PREFIX}{ERR_NO_PERMISSION})"}),
        failing("BackupState", "SetBackupState", 1,
                {phaseFailed(u"IVssBackupComponents::SetBackupState", kAccessDenied)}),
        failing("Context", "SetContext", 1,
                {phaseFailed(u"IVssBackupComponents::SetContext", kAccessDenied)}),
        failing("EnableClasses", "EnableWriterClasses", 1,
                {phaseFailed(u"IVssBackupComponents::EnableWriterClasses", kAccessDenied)}),
        failing("Gather", "GatherWriterMetadata", 1,
                {phaseFailed(u"IVssBackupComponents::GatherWriterMetadata", kAccessDenied)}),
        failing("GatherWait", "GatherWriterMetadata.Wait", 1,
                {phaseFailed(u"IVssBackupComponents::GatherWriterMetadata", kAccessDenied)}),
        failing("GatherQuery", "GatherWriterMetadata.QueryStatus", 1,
                {phaseFailed(u"IVssBackupComponents::GatherWriterMetadata", kAccessDenied)}),
        failing("GatherResult", "GatherWriterMetadata.Result", 1,
                {phaseFailed(u"IVssBackupComponents::GatherWriterMetadata", kAccessDenied)}),
        failing("Count", "GetWriterMetadataCount", 1,
                {phaseFailed(u"IVssBackupComponents::GetWriterMetadataCount", kAccessDenied)}),
        // The first two metadata requests are the catalogue's.
        failing("Metadata", "GetWriterMetadata", 3,
                {phaseFailed(u"IVssBackupComponents::GetWriterMetadata", kAccessDenied)}),
        failing("AddComponent", "AddComponent", 2,
                {phaseFailed(u"IVssBackupComponents::AddComponent", kAccessDenied)}),
        // A failed catalogue is a warning; the components are then not found.
        failing("Catalogue", "GetFileCounts", 1,
                {u"{WARNING_PREFIX} (IVssExamineWriterMetadata::GetFileCounts: " +
                     formatStatus(Status(kAccessDenied)) + u")",
                 kNoComponentMail}),
        FailureCase{"StandardException",
                    "GetWriterMetadata",
                    3,
                    Throw::kStandard,
                    {u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}: fault injected into "
                     u"GetWriterMetadata)"}},
        FailureCase{"OtherException",
                    "AddComponent",
                    1,
                    Throw::kNonStandard,
                    {u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}: {ERR_UNCAUGHT})"}}),
    [](const auto& info) { return std::string(info.param.name); });

using Preparation = Scenario;

TEST_F(Preparation, APositiveOperationStatusIsNoFailure) {
  service.answer("GatherWriterMetadata.Result", Status{0x0004230B});  // cancelled
  selectTwoWriters();
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 0);
}

TEST_F(Preparation, PassesTheHostsBackupType) {
  frostcap_snapshot_setIncrementalMode(handle, 5);
  frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  EXPECT_EQ(service.log()[2], "SetBackupState(true,false,5,false)");
  EXPECT_EQ(service.log()[3], "SetContext(0)");
}

TEST_F(Preparation, AWriterIdThatIsNotAGuidStopsBeforeEnablingWriters) {
  frostcap_snapshot_addWriter(handle, host(u"AAAAAAAA-0000-0000-0000-000000000001"));
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(messages(), std::vector<std::u16string>{
                            u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({WARNING_PREFIX}{ERR_BAD_GUID})"});
  EXPECT_EQ(service.count("EnableWriterClasses"), 0);
}

TEST_F(Preparation, AWriterThatReportsNoMetadataIsMissing) {
  service.writers.pop_back();
  selectTwoWriters();
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(messages(),
            std::vector<std::u16string>{
                u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}{ERR_MISSING_WRITER})"});
  EXPECT_EQ(service.count("GetFileCounts"), 0) << "no catalogue for a short set of writers";
}

TEST_F(Preparation, AComponentFoundNeitherHereNorUnderItsFallbackNamesTheHostsSpelling) {
  frostcap_snapshot_addWriterFilegroupComponentFallback(
      handle, host(kDatabaseWriterId), host(u"Old\\Path"), host(u"logs"), host(u"Elsewhere"));
  frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(messages(), std::vector<std::u16string>{
                            u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}{ERR_NO_COMPONENT} "
                            u"(Path=Old\\Path Name=logs))"});
}

TEST_F(Preparation, ADatabaseSelectionNeverMatchesAFileGroup) {
  frostcap_snapshot_addWriterDatabaseComponentFallback(handle, host(kDatabaseWriterId),
                                                       host(u"Store"), host(u"Logs"), host(u""));
  frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(service.count("AddComponent"), 0);
}

TEST_F(Preparation, WritersAreWalkedInCodeUnitOrderOfTheirIds) {
  // 'B' (0x42) sorts before 'a' (0x61): the upper-case id is writer 0.
  service.writers[0].classId = *platform::parseGuid(u"{B0000000-0000-0000-0000-000000000000}");
  service.writers[1].classId = *platform::parseGuid(u"{a0000000-0000-0000-0000-000000000000}");
  frostcap_snapshot_addWriter(handle, host(u"{a0000000-0000-0000-0000-000000000000}"));
  frostcap_snapshot_addWriter(handle, host(u"{B0000000-0000-0000-0000-000000000000}"));
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  EXPECT_EQ(state().writerClassIds,
            (std::vector<vss::Guid>{service.writers[0].classId, service.writers[1].classId}));
}

TEST_F(Preparation, AFailedPreparationKeepsWhatItReachedAndFreesCleanly) {
  service.fail("AddComponent", Status(kBadState), 3);
  selectTwoWriters();
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(state().writerInstanceIds,
            (std::vector<vss::Guid>{kDatabaseWriterInstance, kFilesWriterInstance}));
  // Every instance id is there, so the completion marks what was selected.
  free(1);
  EXPECT_EQ(service.count("SetBackupSucceeded"), 3);
}

TEST_F(Preparation, CompletionIsSkippedWhenNotEveryWriterWasReached) {
  service.fail("AddComponent", Status(kBadState), 1);
  selectTwoWriters();
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  free(1);
  EXPECT_EQ(service.count("SetBackupSucceeded"), 0);
  EXPECT_EQ(service.count("BackupComplete"), 0);
}

}  // namespace
}  // namespace frostcap::test
