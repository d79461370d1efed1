#pragma once

// A host's road through the exported functions against the model of the
// service: two writers, their ids and components, and a session that owns a
// handle and the model and checks at its end that nothing was left out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/snapshot.h"
#include "frostcap.h"
#include "support/host_strings.h"
#include "support/model_service.h"

namespace frostcap::test {

inline const vss::Guid kDatabaseWriterClass = {0xAAAAAAAA, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
inline const vss::Guid kDatabaseWriterInstance = {0x11111111, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
inline const vss::Guid kFilesWriterClass = {0xBBBBBBBB, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
inline const vss::Guid kFilesWriterInstance = {0x22222222, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
inline const std::u16string kDatabaseWriterId = u"{AAAAAAAA-0000-0000-0000-000000000001}";
inline const std::u16string kFilesWriterId = u"{BBBBBBBB-0000-0000-0000-000000000002}";

// The three components of the two writers as the record shows them in
// AddComponent and SetBackupSucceeded: instance, class, type, path and name.
inline const std::string kMailRecord =
    text(kDatabaseWriterInstance) + "," + text(kDatabaseWriterClass) + ",1,Store\\Main,Mail";
inline const std::string kLogsRecord =
    text(kDatabaseWriterInstance) + "," + text(kDatabaseWriterClass) + ",2,Store,Logs";
inline const std::string kDocumentsRecord =
    text(kFilesWriterInstance) + "," + text(kFilesWriterClass) + ",2,,Documents";

// Two writers: a database writer with a database and a file group of logs,
// and a file writer with one document folder (not selectable on its own).
inline std::vector<WriterSpec> twoWriters() {
  WriterSpec database;
  database.classId = kDatabaseWriterClass;
  database.instanceId = kDatabaseWriterInstance;
  database.name = u"Database Writer";
  database.components = {{1, u"Store\\Main", u"Mail", true, {}, {}, {}},
                         {2, u"Store", u"Logs", true, {}, {}, {}}};
  WriterSpec files;
  files.classId = kFilesWriterClass;
  files.instanceId = kFilesWriterInstance;
  files.name = u"Files Writer";
  files.components = {{2, u"", u"Documents", false, {}, {}, {}}};
  return {database, files};
}

// Selects the two writers' components as a host would: one by a spelling that
// differs in case, one only under its fallback path, one as it is.
inline void selectTwoWriters(frostcap_snapshot* handle) {
  frostcap_snapshot_addWriterDatabaseComponentFallback(
      handle, host(kDatabaseWriterId), host(u"store\\main"), host(u"MAIL"), host(u""));
  frostcap_snapshot_addWriterFilegroupComponentFallback(
      handle, host(kDatabaseWriterId), host(u"Old\\Path"), host(u"Logs"), host(u"Store"));
  frostcap_snapshot_addWriterFilegroupComponentFallback(handle, host(kFilesWriterId), host(u""),
                                                        host(u"Documents"), host(u""));
}

// The components the host selected for a writer, in its spelling until the
// preparation rewrites them.
inline std::vector<ComponentRecord> selectedComponents(const SelectedWriter& writer) {
  std::vector<ComponentRecord> components;
  for (const Selection& selection : writer.selections) components.push_back(selection.component);
  return components;
}

inline void addVolumes(frostcap_snapshot* handle, std::initializer_list<std::u16string> volumes) {
  for (const std::u16string& volume : volumes)
    frostcap_snapshot_addVolumePath(handle, host(volume));
}

// A host's session: a handle of its own against a model of its own that plays
// the two writers. At its end it frees the handle and checks that every object
// the library obtained from the service was released and every component
// description handed back. A test that tries several cases opens one per case.
class Session {
 public:
  Session() { service.writers = twoWriters(); }
  ~Session() {
    free(0);
    EXPECT_EQ(service.ledger(), simulator::Ledger{})
        << "objects obtained from the service not released, or descriptions not handed back";
  }

  void free(int verdict) {
    frostcap_snapshot_free(handle, verdict);
    handle = nullptr;
  }

  void selectTwoWriters() { test::selectTwoWriters(handle); }
  void addVolumes(std::initializer_list<std::u16string> volumes) {
    test::addVolumes(handle, volumes);
  }

  std::vector<std::u16string> messages() { return drain(handle, frostcap_snapshot_getNextMessage); }
  std::vector<std::u16string> mountPaths() {
    return drain(handle, frostcap_snapshot_getNextMountPath);
  }
  std::vector<std::u16string> catalogue() {
    return drain(handle, frostcap_snapshot_getNextWriterComponent);
  }

  Snapshot& state() { return handle->state; }

  ModelService service;
  frostcap_snapshot* handle = frostcap_snapshot_new();
};

// The same as a fixture. The handle is freed before the test's own members
// (a directory standing in for a volume) go.
class Scenario : public testing::Test, public Session {
 protected:
  void TearDown() override { free(0); }
};

// The message a failed phase queues for a failed call.
inline std::u16string phaseFailed(std::u16string_view label, std::uint32_t status) {
  return u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} (" + std::u16string(label) + u": " +
         formatStatus(static_cast<Status>(status)) + u")";
}

}  // namespace frostcap::test
