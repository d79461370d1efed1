#include "status/status_table.h"

namespace frostcap {
namespace {

struct ServiceStatusText {
  std::uint32_t code;
  const char16_t* text;
};

// Exact 32-bit codes: success codes sit beside the failure codes that share
// their low bits, so nothing here may be matched after masking.
constexpr ServiceStatusText kServiceStatusTexts[] = {
    // VSS_E_BAD_STATE
    {0x80042301,
     u"A function call was made when the object was in an incorrect state for that function"},
    // VSS_E_UNEXPECTED
    {0x80042302,
     u"The shadow copy service ran into an internal error it did not expect. Its entries in the "
     u"application event log may give the cause."},
    // VSS_E_PROVIDER_ALREADY_REGISTERED
    {0x80042303, u"A shadow copy provider with this identifier has been registered already."},
    // VSS_E_PROVIDER_NOT_REGISTERED
    {0x80042304, u"The requested shadow copy provider is not registered on this system."},
    // VSS_E_PROVIDER_VETO
    {0x80042306,
     u"The shadow copy provider refused to carry out the operation. Its entries in the event log "
     u"may explain why."},
    // VSS_E_PROVIDER_IN_USE
    {0x80042307,
     u"The shadow copy provider cannot be changed or removed while it is still in use."},
    // VSS_E_OBJECT_NOT_FOUND
    {0x80042308,
     u"No object with the given identifier exists: the shadow copy, shadow copy set, volume or "
     u"provider asked for could not be found."},
    // VSS_E_VOLUME_NOT_SUPPORTED
    {0x8004230C,
     u"Shadow copies cannot be made of this volume, or the path given does not name a volume."},
    // VSS_E_OBJECT_ALREADY_EXISTS
    {0x8004230D, u"The object that was to be created is already present."},
    // VSS_E_VOLUME_NOT_SUPPORTED_BY_PROVIDER
    {0x8004230E,
     u"The chosen shadow copy provider is unable to make shadow copies of this volume."},
    // VSS_E_UNEXPECTED_PROVIDER_ERROR
    {0x8004230F,
     u"The shadow copy provider failed with an error it did not anticipate. The provider's entries "
     u"in the event log may give the reason."},
    // VSS_E_CORRUPT_XML_DOCUMENT
    {0x80042310,
     u"The given XML document is invalid. It is either incorrectly-formed XML or it does not match "
     u"the schema. This error code is deprecated."},
    // VSS_E_INVALID_XML_DOCUMENT
    {0x80042311,
     u"The given XML document is invalid. It is either incorrectly-formed XML or it does not match "
     u"the schema."},
    // VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED
    {0x80042312,
     u"No further volume can join this shadow copy set: it already holds as many volumes as are "
     u"allowed."},
    // VSS_E_FLUSH_WRITES_TIMEOUT
    {0x80042313,
     u"Pending writes to the volume could not be flushed in time, so the shadow copy was not made. "
     u"Try again when the system is less busy."},
    // VSS_E_HOLD_WRITES_TIMEOUT
    {0x80042314,
     u"Writes to the volume could not be held back for long enough to make the shadow copy. Try "
     u"again when the volume is less busy."},
    // VSS_E_UNEXPECTED_WRITER_ERROR
    {0x80042315, u"VSS encountered problems while sending events to writers."},
    // VSS_E_SNAPSHOT_SET_IN_PROGRESS
    {0x80042316,
     u"Another shadow copy set is being created at this moment, and only one can be created at a "
     u"time. Try again later."},
    // VSS_E_MAXIMUM_NUMBER_OF_SNAPSHOTS_REACHED
    {0x80042317,
     u"The volume already carries the largest number of shadow copies allowed. Delete some of them "
     u"before making another."},
    // VSS_E_WRITER_INFRASTRUCTURE
    {0x80042318,
     u"The writers could not be reached because the infrastructure that connects them is not "
     u"working. Check that the shadow copy and event system services are running."},
    // VSS_E_WRITER_NOT_RESPONDING
    {0x80042319, u"A writer did not answer in time, or answered with an error."},
    // VSS_E_WRITER_ALREADY_SUBSCRIBED
    {0x8004231A, u"The writer has already subscribed to shadow copy events."},
    // VSS_E_UNSUPPORTED_CONTEXT
    {0x8004231B,
     u"The context requested for the shadow copy is not supported by this system or by the chosen "
     u"provider."},
    // VSS_E_VOLUME_IN_USE
    {0x8004231D,
     u"The volume is taking part in another shadow copy operation and cannot be used for this one "
     u"now."},
    // VSS_E_MAXIMUM_DIFFAREA_ASSOCIATIONS_REACHED
    {0x8004231E,
     u"No further shadow storage area can be associated with the volume: the limit has been "
     u"reached."},
    // VSS_E_INSUFFICIENT_STORAGE
    {0x8004231F,
     u"There is not enough free disk space for the shadow copy storage area, so the shadow copy "
     u"cannot be made."},
    // VSS_E_NO_SNAPSHOTS_IMPORTED
    {0x80042320, u"Not one of the shadow copies could be imported."},
    // VSS_E_SOME_SNAPSHOTS_NOT_IMPORTED
    {0x80042321, u"Some shadow copies were not successfully imported."},
    // VSS_E_MAXIMUM_NUMBER_OF_REMOTE_MACHINES_REACHED
    {0x80042322,
     u"The shadow copy set already spans as many remote computers as are allowed; no volume on a "
     u"further computer can be added."},
    // VSS_E_REMOTE_SERVER_UNAVAILABLE
    {0x80042323, u"The remote server that holds the volume cannot be reached."},
    // VSS_E_REMOTE_SERVER_UNSUPPORTED
    {0x80042324,
     u"The remote server that holds the volume cannot take part in shadow copies of file shares, "
     u"or runs a version that does not support them."},
    // VSS_E_REVERT_IN_PROGRESS
    {0x80042325,
     u"The volume is being reverted to a shadow copy. Wait until the revert has finished."},
    // VSS_E_REVERT_VOLUME_LOST
    {0x80042326, u"The volume was lost while it was being reverted to a shadow copy."},
    // VSS_E_REBOOT_REQUIRED
    {0x80042327, u"The computer must be restarted before this operation can be completed."},
    // VSS_E_TRANSACTION_FREEZE_TIMEOUT
    {0x80042328,
     u"The transaction manager did not suspend its transactions in time for the shadow copy to be "
     u"made."},
    // VSS_E_TRANSACTION_THAW_TIMEOUT
    {0x80042329,
     u"The transaction manager did not resume its transactions in time after the shadow copy was "
     u"made."},
    // VSS_E_UNSELECTED_VOLUME
    {0x8004232A, u"The operation names a volume that was not selected for this shadow copy set."},
    // VSS_E_SNAPSHOT_NOT_IN_SET
    {0x8004232B, u"The given shadow copy does not belong to this shadow copy set."},
    // VSS_E_NESTED_VOLUME_LIMIT
    {0x8004232C,
     u"The volume is nested inside other volumes more deeply than shadow copies allow, so it "
     u"cannot "
     u"take part."},
    // VSS_E_VOLUME_NOT_LOCAL
    {0x8004232D,
     u"The volume is not attached to this computer, and the operation works only on local "
     u"volumes."},
    // VSS_E_CLUSTER_TIMEOUT
    {0x8004232E, u"The cluster did not complete a request of the shadow copy service in time."},
    // VSS_E_NOT_SUPPORTED
    {0x8004232F, u"This shadow copy operation is not supported on this system."},
    // VSS_E_WRITERERROR_PARTIAL_FAILURE
    {0x80042336,
     u"The writer experienced a partial failure. Check the component level error state for more "
     u"information."},
    // VSS_E_WRITERERROR_INCONSISTENTSNAPSHOT
    {0x800423F0,
     u"The writer found the shadow copy inconsistent, for example because it leaves out a volume "
     u"that holds some of the writer's data."},
    // VSS_E_WRITERERROR_OUTOFRESOURCES
    {0x800423F1,
     u"The writer ran out of memory or of another resource it needed while taking part in the "
     u"shadow copy."},
    // VSS_E_WRITERERROR_TIMEOUT
    {0x800423F2,
     u"The writer gave up because too much time passed between writes being suspended and being "
     u"resumed."},
    // VSS_E_WRITERERROR_RETRYABLE
    {0x800423F3,
     u"The writer failed with a passing error; the operation may succeed if it is tried again."},
    // VSS_E_WRITERERROR_NONRETRYABLE
    {0x800423F4,
     u"The writer failed with an error that will occur again; retrying the operation will not "
     u"help."},
    // VSS_E_WRITERERROR_RECOVERY_FAILED
    {0x800423F5,
     u"The writer could not bring its data on the shadow copy into a consistent state, so the "
     u"shadow copy could not be recovered."},
    // VSS_E_BREAK_REVERT_ID_FAILED
    {0x800423F6,
     u"Breaking off the shadow copy set failed while the identifiers of its disks were being "
     u"restored to their former values."},
    // VSS_E_LEGACY_PROVIDER
    {0x800423F7,
     u"This operation is not available with a provider written for an older version of the "
     u"provider interface."},
    // VSS_E_MISSING_DISK
    {0x800423F8, u"A disk that the operation expects has not appeared on the system."},
    // VSS_E_MISSING_HIDDEN_VOLUME
    {0x800423F9, u"A hidden volume that the operation expects has not appeared on the system."},
    // VSS_E_MISSING_VOLUME
    {0x800423FA, u"A volume that the operation expects has not appeared on the system."},
    // VSS_E_AUTORECOVERY_FAILED
    {0x800423FB,
     u"Automatic recovery of the shadow copy did not succeed, so the shadow copy cannot be used."},
    // VSS_E_DYNAMIC_DISK_ERROR
    {0x800423FC,
     u"The dynamic disks involved could not be handled; their configuration may be damaged or "
     u"incomplete."},
    // VSS_E_NONTRANSPORTABLE_BCD
    {0x800423FD,
     u"The backup components document describes a shadow copy that cannot be moved to another "
     u"system, but this operation needs one that can."},
    // VSS_E_CANNOT_REVERT_DISKID
    {0x800423FE,
     u"The identifier of a disk could not be set back to its original value, so the disk may keep "
     u"its changed identity."},
    // VSS_E_RESYNC_IN_PROGRESS
    {0x800423FF,
     u"A volume is already being resynchronised with a shadow copy; wait for that to finish."},
    // VSS_E_CLUSTER_ERROR
    {0x80042400, u"The cluster service reported an error during the shadow copy operation."},
    // VSS_E_ASRERROR_DISK_ASSIGNMENT_FAILED
    {0x80042401,
     u"System recovery could not match the disks it found to the disks of the original system. "
     u"There may be too few disks, or some may be too small."},
    // VSS_E_ASRERROR_DISK_RECREATION_FAILED
    {0x80042402,
     u"System recovery could not recreate the layout of a disk, perhaps because the disk is too "
     u"small or failed while it was being written."},
    // VSS_E_ASRERROR_NO_ARCPATH
    {0x80042403,
     u"System recovery found no firmware boot path for a disk it needs, so that disk cannot be "
     u"used."},
    // VSS_E_ASRERROR_MISSING_DYNDISK
    {0x80042404,
     u"A dynamic disk recorded in the system recovery data is not present on this computer."},
    // VSS_E_ASRERROR_SHARED_CRIDISK
    {0x80042405,
     u"A disk needed to start the system is shared with a cluster, which system recovery does not "
     u"allow."},
    // VSS_E_ASRERROR_DATADISK_RDISK0
    {0x80042406,
     u"The disk the firmware lists first holds only data, but system recovery needs the system "
     u"disk in that place."},
    // VSS_E_ASRERROR_RDISK0_TOOSMALL
    {0x80042407,
     u"The disk the firmware lists first is too small to receive the original system disk."},
    // VSS_E_ASRERROR_CRITICAL_DISKS_TOO_SMALL
    {0x80042408,
     u"The disks available to system recovery are too small to receive the disks that the system "
     u"needs to run."},
    // VSS_E_WRITER_STATUS_NOT_AVAILABLE
    {0x80042409,
     u"The status of a writer cannot be obtained. The writer may already be serving as many backup "
     u"and restore sessions as it can."},
    // VSS_E_ASRERROR_DYNAMIC_VHD_NOT_SUPPORTED
    {0x8004240A,
     u"System recovery cannot restore onto a virtual hard disk whose size grows on demand."},
    // VSS_E_CRITICAL_VOLUME_ON_INVALID_DISK
    {0x80042411,
     u"A volume the system needs in order to run lies on a disk that cannot be backed up for "
     u"system recovery."},
    // VSS_E_ASRERROR_RDISK_FOR_SYSTEM_DISK_NOT_FOUND
    {0x80042412,
     u"System recovery found no disk that can receive the original system disk. The disks that "
     u"are present may be too small, may be excluded from the recovery, or may not be visible to "
     u"the firmware. Attach a disk at least as large as the original system disk, make sure the "
     u"firmware reports it, and try the recovery again."},
    // VSS_E_ASRERROR_NO_PHYSICAL_DISK_AVAILABLE
    {0x80042413,
     u"No physical disk is left to receive the restored system; every disk found is either "
     u"excluded or unusable."},
    // VSS_E_ASRERROR_FIXED_PHYSICAL_DISK_AVAILABLE_AFTER_DISK_EXCLUSION
    {0x80042414,
     u"A fixed physical disk is still available after the requested disks were excluded, which "
     u"the chosen exclusions do not allow for."},
    // VSS_E_ASRERROR_CRITICAL_DISK_CANNOT_BE_EXCLUDED
    {0x80042415,
     u"A disk that holds a volume the system needs cannot be excluded from system recovery."},
    // VSS_E_ASRERROR_SYSTEM_PARTITION_HIDDEN
    {0x80042416,
     u"The system partition is hidden or its file system is not recognised, so it cannot be "
     u"included in a system recovery backup."},
    // VSS_S_ASYNC_PENDING
    {0x00042309, u"The asynchronous operation is pending."},
    // VSS_S_ASYNC_FINISHED
    {0x0004230A, u"The asynchronous operation has completed."},
    // VSS_S_ASYNC_CANCELLED
    {0x0004230B, u"The asynchronous operation has been cancelled."},
    // VSS_S_SOME_SNAPSHOTS_NOT_IMPORTED
    {0x00042321, u"Some shadow copies were not successfully imported."},
};

}  // namespace

const char16_t* lookupServiceStatusText(std::uint32_t status) noexcept {
  for (const ServiceStatusText& row : kServiceStatusTexts) {
    if (row.code == status) return row.text;
  }
  return nullptr;
}

}  // namespace frostcap
