#pragma once

// Every text the library queues for its host, in one place. Texts are built of
// brace tokens that the host replaces with its own wording; the library never
// expands them. Details nest: a failed step's text becomes the parenthesised
// detail of the message that reports it.

#include <string>
#include <string_view>

#include "frame/step_result.h"
#include "status/status.h"

namespace frostcap::messages {

// Messages queued as they stand.
inline constexpr std::u16string_view kMissingName = u"{WARNING_PREFIX}{ERR_MISSING_NAME}";
inline constexpr std::u16string_view kSnapshotReuse = u"{WARNING_PREFIX}{ERR_SNAPSHOT_REUSE}";
inline constexpr std::u16string_view kNoVolumes = u"{FATAL_PREFIX}{ERR_NO_VOLUMES}";

// Details, carried inside the parentheses of another message.
inline constexpr std::u16string_view kNoPermission = u"{WARNING_PREFIX}{ERR_NO_PERMISSION}";
inline constexpr std::u16string_view kBadGuid = u"{WARNING_PREFIX}{ERR_BAD_GUID}";
inline constexpr std::u16string_view kMissingWriter = u"{FATAL_PREFIX}{ERR_MISSING_WRITER}";
inline constexpr std::u16string_view kNotReady = u"{FATAL_PREFIX}{ERR_NOT_READY}";
inline constexpr std::u16string_view kUncaught = u"{FATAL_PREFIX}: {ERR_UNCAUGHT}";

// "{FATAL_PREFIX}{ERR_INIT_VSS} (<status>)": the service could not be reached.
std::u16string initVssFailed(Status status);
// "{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} (<detail>)": a phase failed.
std::u16string takeSnapshotFailed(std::u16string_view detail);
// "{WARNING_PREFIX} (<detail>)": the component catalogue could not be built.
std::u16string catalogueFailed(std::u16string_view detail);
// "{WARNING_PREFIX}{ERR_FILE_SET} (<detail>)": the file inventory stopped.
std::u16string fileSetFailed(std::u16string_view detail);

// "{FATAL_PREFIX}: <what>": a standard exception escaped a guarded routine;
// its what() text is read as UTF-8.
std::u16string exceptionDetail(std::string_view what);
// "{FATAL_PREFIX}{ERR_NO_COMPONENT} (Path=<path> Name=<name>)".
std::u16string noComponent(std::u16string_view logicalPath, std::u16string_view componentName);
// "<label>: <status>": a service or system call failed.
std::u16string callFailed(std::u16string_view label, Status status);
// "IVssBackupComponents::GetWriterStatus(<writer>): <status>": a writer failed.
std::u16string writerFailed(std::u16string_view writerName, Status status);

// Messages about one component of a writer that failed in part; they carry no
// severity, the fatal message of the failed step follows them.
std::u16string componentServiceFailure(std::u16string_view componentName, Status status);
std::u16string componentApplicationFailure(std::u16string_view componentName, Status status);
std::u16string componentCustomFailure(std::u16string_view componentName,
                                      std::u16string_view applicationMessage);

// The labels that name a failed service call in a failure text.
namespace label {
inline constexpr std::u16string_view kSetBackupState = u"IVssBackupComponents::SetBackupState";
inline constexpr std::u16string_view kSetContext = u"IVssBackupComponents::SetContext";
inline constexpr std::u16string_view kEnableWriterClasses =
    u"IVssBackupComponents::EnableWriterClasses";
inline constexpr std::u16string_view kGatherWriterMetadata =
    u"IVssBackupComponents::GatherWriterMetadata";
inline constexpr std::u16string_view kGetWriterMetadataCount =
    u"IVssBackupComponents::GetWriterMetadataCount";
inline constexpr std::u16string_view kGetWriterMetadata =
    u"IVssBackupComponents::GetWriterMetadata";
inline constexpr std::u16string_view kAddComponent = u"IVssBackupComponents::AddComponent";
inline constexpr std::u16string_view kStartSnapshotSet = u"IVssBackupComponents::StartSnapshotSet";
inline constexpr std::u16string_view kAddToSnapshotSet = u"IVssBackupComponents::AddToSnapshotSet";
inline constexpr std::u16string_view kPrepareForBackup = u"IVssBackupComponents::PrepareForBackup";
inline constexpr std::u16string_view kDoSnapshotSet = u"IVssBackupComponents::DoSnapshotSet";
inline constexpr std::u16string_view kGetSnapshotProperties =
    u"IVssBackupComponents::GetSnapshotProperties";
inline constexpr std::u16string_view kGatherWriterStatus =
    u"IVssBackupComponents::GatherWriterStatus";
inline constexpr std::u16string_view kGetWriterStatus = u"IVssBackupComponents::GetWriterStatus";
inline constexpr std::u16string_view kPartialGetWriterComponents =
    u"VSS_E_WRITERERROR_PARTIAL_FAILURE -> IVssBackupComponents::GetWriterComponents";
inline constexpr std::u16string_view kPartialGetComponentCount =
    u"VSS_E_WRITERERROR_PARTIAL_FAILURE -> IVssWriterComponents::GetComponentCount";
inline constexpr std::u16string_view kPartialGetComponent =
    u"VSS_E_WRITERERROR_PARTIAL_FAILURE -> IVssWriterComponents::GetComponent";
inline constexpr std::u16string_view kPartialGetComponentName =
    u"VSS_E_WRITERERROR_PARTIAL_FAILURE -> IVssComponent::GetComponentName";
inline constexpr std::u16string_view kPartialQueryComponentEx2 =
    u"VSS_E_WRITERERROR_PARTIAL_FAILURE -> QueryInterface(IID_IVssComponentEx2)";
inline constexpr std::u16string_view kPartialGetFailure =
    u"VSS_E_WRITERERROR_PARTIAL_FAILURE -> IVssComponentEx2::GetFailure";
inline constexpr std::u16string_view kSetBackupSucceeded =
    u"IVssBackupComponents::SetBackupSucceeded";
inline constexpr std::u16string_view kBackupComplete = u"IVssBackupComponents::BackupComplete";
inline constexpr std::u16string_view kGetFileCounts = u"IVssExamineWriterMetadata::GetFileCounts";
inline constexpr std::u16string_view kGetComponent = u"IVssExamineWriterMetadata::GetComponent";
inline constexpr std::u16string_view kGetExcludeFile = u"IVssExamineWriterMetadata::GetExcludeFile";
inline constexpr std::u16string_view kGetComponentInfo = u"IVssWMComponent::GetComponentInfo";
inline constexpr std::u16string_view kFreeComponentInfo = u"IVssWMComponent::FreeComponentInfo";
inline constexpr std::u16string_view kGetFile = u"IVssWMComponent::GetFile";
inline constexpr std::u16string_view kGetDatabaseFile = u"IVssWMComponent::GetDatabaseFile";
inline constexpr std::u16string_view kGetDatabaseLogFile = u"IVssWMComponent::GetDatabaseLogFile";
inline constexpr std::u16string_view kGetPath = u"IVssWMFiledesc::GetPath";
inline constexpr std::u16string_view kGetFilespec = u"IVssWMFiledesc::GetFilespec";
inline constexpr std::u16string_view kGetRecursive = u"IVssWMFiledesc::GetRecursive";
}  // namespace label

}  // namespace frostcap::messages

namespace frostcap {

// The failed step of a service or system call: its label and status.
inline StepResult callFailure(std::u16string_view label, Status status) {
  return StepResult::failure(messages::callFailed(label, status));
}

}  // namespace frostcap
