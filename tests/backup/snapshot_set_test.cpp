// The second phase and the writer status report it makes twice. How each
// failing call ends the phase, with which label, is the fault sweep's to check
// (tests/reliability).

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

// A failure before the copies lets the phase run again; a handle that made
// its snapshot, even in part, makes no other: both phases refuse without a
// call to the service.
TEST_F(SnapshotSet, AHandleMakesOneSnapshotOnlyEvenWhenTheSecondCopyFails) {
  prepare();
  service.fail("StartSnapshotSet", Status(kProviderVeto));
  service.fail("GetSnapshotProperties", Status(kProviderVeto), 2);
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_TRUE(state().shadowDevices.empty());
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(state().shadowDevices.size(), 1u);
  EXPECT_TRUE(mountPaths().empty());
  messages();
  const std::size_t calls = service.calls().size();
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(service.calls().size(), calls);
  EXPECT_EQ(messages(), (std::vector<std::u16string>{u"{WARNING_PREFIX}{ERR_SNAPSHOT_REUSE}",
                                                     u"{WARNING_PREFIX}{ERR_SNAPSHOT_REUSE}"}));
  EXPECT_TRUE(mountPaths().empty());
}

// The first failed writer ends the phase after the preparation, named with
// its state, after a message for each way each of its failed components
// failed; only a writer failed in part is asked for its components.
TEST(WriterStatus, AFailedWriterIsNamedAfterItsFailedComponents) {
  const auto writerFailed = [](std::u16string_view writer, std::uint32_t status) {
    return phaseFailed(u"IVssBackupComponents::GetWriterStatus(" + std::u16string(writer) + u")",
                       status);
  };
  const struct {
    const char* what;
    Status first, second;                     // the writers' states
    std::vector<FailedComponentSpec> failed;  // the first writer's components
    std::vector<std::u16string> messages;
    int drilledInto;
  } cases[] = {
      {"failed", 0, Status(kRetryable), {}, {writerFailed(u"Files Writer", kRetryable)}, 0},
      {"failed in part",
       Status(kPartialFailure),
       Status(kPartialFailure),  // never reached
       {
           {u"Mail", {Status(kRetryable), Status(0x80070005), u"disk full"}},
           {u"Logs", {0, 0, u""}},          // nothing to report
           {u"Index", {0, 0, u"rebuilt"}},  // only the writer's own text
       },
       {u"{ERR_COMPONENT_VSS}: (Mail): " + formatStatus(Status(kRetryable)),
        u"{ERR_COMPONENT_APP}: (Mail): " + formatStatus(Status(0x80070005)),
        u"{ERR_COMPONENT_CUST}: (Mail): disk full", u"{ERR_COMPONENT_CUST}: (Index): rebuilt",
        writerFailed(u"Database Writer", kPartialFailure)},
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Session session;
    session.service.writers[0].status = c.first;
    session.service.writers[0].failedComponents = c.failed;
    session.service.writers[1].status = c.second;
    session.selectTwoWriters();
    session.addVolumes({u"C:\\"});
    ASSERT_EQ(frostcap_snapshot_perform_a(session.handle), 0);
    EXPECT_EQ(frostcap_snapshot_perform_b(session.handle), 1);
    EXPECT_EQ(session.messages(), c.messages);
    EXPECT_EQ(session.service.count("GetWriterComponents"), c.drilledInto);
    EXPECT_EQ(session.service.count("DoSnapshotSet"), 0) << "the check after preparation stops";
  }
}

}  // namespace
}  // namespace frostcap::test
