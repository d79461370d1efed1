// Writers as a real server reports them: not in the order of their ids, a
// class running as several instances, and the list of writers with components
// in the backup in an index space of its own. Each metadata entry is paired
// with a selected writer by the identity it states.

#include <gtest/gtest.h>

#include <algorithm>

#include "support/scenario.h"

namespace frostcap::test {
namespace {

constexpr std::uint32_t kPartialFailure = 0x80042336;
constexpr std::uint32_t kRetryable = 0x800423F3;

bool contains(const std::vector<std::string>& log, const std::string& call) {
  return std::find(log.begin(), log.end(), call) != log.end();
}

using WriterIdentity = Scenario;

TEST_F(WriterIdentity, WritersReportedOutOfIdOrderArePairedByIdentity) {
  std::swap(service.writers[0], service.writers[1]);
  selectTwoWriters();
  addVolumes({u"C:\\"});
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0) << text(messages().at(0));
  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0);
  free(1);
  for (const std::string& record : {kMailRecord, kLogsRecord, kDocumentsRecord}) {
    EXPECT_TRUE(contains(service.log(), "AddComponent(" + record + ")")) << record;
  }
  EXPECT_EQ(service.count("SetBackupSucceeded"), 3);
  EXPECT_TRUE(service.breaches().empty());
}

TEST_F(WriterIdentity, EachInstanceOfAClassTakesTheComponentsItHolds) {
  WriterSpec second = service.writers[0];
  second.instanceId = {0x33333333, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};
  second.name = u"Database Writer (second)";
  second.components = {{1, u"Store\\Other", u"Archive", true, {}, {}, {}}};
  service.writers = {service.writers[0], second};
  frostcap_snapshot_addWriterDatabaseComponentFallback(
      handle, host(kDatabaseWriterId), host(u"Store\\Main"), host(u"Mail"), host(u""));
  frostcap_snapshot_addWriterDatabaseComponentFallback(
      handle, host(kDatabaseWriterId), host(u"Store\\Other"), host(u"Archive"), host(u""));
  addVolumes({u"C:\\"});
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0) << text(messages().at(0));
  EXPECT_EQ(service.count("AddComponent"), 2);
  EXPECT_TRUE(contains(service.log(), "AddComponent(" + text(second.instanceId) + "," +
                                          text(kDatabaseWriterClass) + ",1,Store\\Other,Archive)"));
}

// The service lists only the writers with components in the backup, so the
// files writer is entry 0 there, not 1 as in the status list.
TEST_F(WriterIdentity, APartialFailureIsDrilledIntoAtTheWritersOwnEntry) {
  service.writers[1].status = Status(kPartialFailure);
  service.writers[1].failedComponents = {{u"Documents", {Status(kRetryable), 0, u""}}};
  frostcap_snapshot_addWriter(handle, host(kDatabaseWriterId));  // no component of its own
  frostcap_snapshot_addWriterFilegroupComponentFallback(handle, host(kFilesWriterId), host(u""),
                                                        host(u"Documents"), host(u""));
  addVolumes({u"C:\\"});
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(
      messages(),
      (std::vector<std::u16string>{
          u"{ERR_COMPONENT_VSS}: (Documents): " + formatStatus(kRetryable),
          phaseFailed(u"IVssBackupComponents::GetWriterStatus(Files Writer)", kPartialFailure)}));
}

}  // namespace
}  // namespace frostcap::test
