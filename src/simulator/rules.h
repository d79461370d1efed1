#pragma once

// The service's documented rules for a requester, each with what the real
// service answers when a requester breaks it and the page of Microsoft's
// documentation that states it. The model answers a breach the same way and
// writes it to the record, so that a test or a host sees the breach itself,
// not only the status that follows from it. A method of the model names the
// rules it holds its call to, one admit() each, in the order it checks them.
//
// Where the documentation leaves open whether the service refuses something
// (it says "should", or names no status), the model accepts the call and
// writes an assumption to the record instead: a first thing to check on a
// real server, not a rule to enforce.

#include <cstdint>
#include <string_view>

#include "status/status.h"
#include "vss/constants.h"

namespace frostcap::simulator {

struct Rule {
  std::string_view name;  // what the requester must do, as the record shows it
  Status answer;          // what the service answers a breach with
  std::string_view page;  // where Microsoft documents it
};

namespace rules {

using vss::kBadState;
using vss::kSnapshotSetInProgress;

#define FROSTCAP_VSS_PAGE(method)                           \
  "https://learn.microsoft.com/windows/win32/api/vsbackup/" \
  "nf-vsbackup-ivssbackupcomponents-" method

// "The backup components object is not initialized": every call but the
// first needs InitializeForBackup.
inline constexpr Rule kInitializeFirst{"InitializeForBackup first", kBadState,
                                       FROSTCAP_VSS_PAGE("initializeforbackup")};
// One backup per object: it cannot be initialised again.
inline constexpr Rule kInitializeOnce{
    "InitializeForBackup once", kBadState,
    "https://learn.microsoft.com/windows/win32/vss/overview-of-backup-initialization"};
// "SetContext can be called only once."
inline constexpr Rule kContextOnce{"SetContext once", kBadState, FROSTCAP_VSS_PAGE("setcontext")};
// "GatherWriterMetadata should be called only once during the lifetime of a
// given IVssBackupComponents object."
inline constexpr Rule kMetadataOnce{"GatherWriterMetadata once", kBadState,
                                    FROSTCAP_VSS_PAGE("gatherwritermetadata")};
// Metadata is read only once its gathering has finished, and not after it
// was freed.
inline constexpr Rule kMetadataGathered{"writer metadata gathered and waited for", kBadState,
                                        FROSTCAP_VSS_PAGE("getwritermetadata")};
// Components are added after the metadata and before PrepareForBackup.
inline constexpr Rule kComponentAfterMetadata{"AddComponent after GatherWriterMetadata", kBadState,
                                              FROSTCAP_VSS_PAGE("addcomponent")};
inline constexpr Rule kComponentBeforePreparation{"AddComponent before PrepareForBackup", kBadState,
                                                  FROSTCAP_VSS_PAGE("addcomponent")};
// In a context without writers AddComponent, PrepareForBackup and
// BackupComplete fail.
inline constexpr Rule kWritersInContext{
    "writers taking part in the context", kBadState,
    "https://learn.microsoft.com/windows/win32/vss/shadow-copy-creation-details"};
// PrepareForBackup needs SetBackupState first.
inline constexpr Rule kBackupStateFirst{"SetBackupState before PrepareForBackup", kBadState,
                                        FROSTCAP_VSS_PAGE("prepareforbackup")};
// Volumes join a started set, and PrepareForBackup follows StartSnapshotSet.
inline constexpr Rule kSetStarted{"StartSnapshotSet first", kBadState,
                                  FROSTCAP_VSS_PAGE("startsnapshotset")};
// One shadow copy set per object.
inline constexpr Rule kOneSet{"one snapshot set per object", kSnapshotSetInProgress,
                              FROSTCAP_VSS_PAGE("startsnapshotset")};
// Nothing joins or is taken twice once the set's copies exist.
inline constexpr Rule kSetOpen{"snapshot set not yet taken", kBadState,
                               FROSTCAP_VSS_PAGE("addtosnapshotset")};
// Where writers take part, DoSnapshotSet follows a successful PrepareForBackup.
inline constexpr Rule kPreparedFirst{"PrepareForBackup before DoSnapshotSet", kBadState,
                                     FROSTCAP_VSS_PAGE("dosnapshotset")};
// BackupComplete ends a backup whose shadow copies were made.
inline constexpr Rule kSnapshotFirst{"DoSnapshotSet before BackupComplete", kBadState,
                                     FROSTCAP_VSS_PAGE("backupcomplete")};
// Writer status is read only once its gathering has finished.
inline constexpr Rule kStatusGathered{"writer status gathered and waited for", kBadState,
                                      FROSTCAP_VSS_PAGE("getwriterstatus")};
// Held only where a scenario asks the model to refuse as a real server may
// ("refuseUnprepared"); otherwise each is accepted and written as an
// assumption. Writer status covers the writers whose metadata was gathered:
// with none gathered, the gathering is out of sequence.
inline constexpr Rule kStatusAfterMetadata{"GatherWriterMetadata before GatherWriterStatus",
                                           kBadState, FROSTCAP_VSS_PAGE("gatherwriterstatus")};
// A component is marked as backed up only once it was added to the backup.
inline constexpr Rule kMarkedAfterAdded{"SetBackupSucceeded for a component added",
                                        vss::kObjectNotFound,
                                        FROSTCAP_VSS_PAGE("setbackupsucceeded")};
// Nothing goes on after AbortBackup.
inline constexpr Rule kNotAborted{"no call after AbortBackup", kBadState,
                                  FROSTCAP_VSS_PAGE("abortbackup")};
// A volume is named with its trailing backslash: "C:" names no volume.
inline constexpr Rule kVolumeNameForm{"volume name with its trailing backslash",
                                      vss::kObjectNotFound, FROSTCAP_VSS_PAGE("addtosnapshotset")};
// A set holds at most 64 volumes.
inline constexpr Rule kVolumesPerSet{"at most 64 volumes per snapshot set",
                                     vss::kMaximumVolumesReached,
                                     FROSTCAP_VSS_PAGE("addtosnapshotset")};
// VSS_CTX_ALL serves queries and deletion, never a new snapshot set.
inline constexpr Rule kNoSetInAllContexts{
    "no snapshot set in VSS_CTX_ALL", kBadState,
    "https://learn.microsoft.com/windows/win32/api/vss/ne-vss-vss_snapshot_context"};

#undef FROSTCAP_VSS_PAGE

}  // namespace rules
}  // namespace frostcap::simulator
