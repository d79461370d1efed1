#pragma once

// The calls of the service that a planned fault may name, in the order a
// backup makes them: every operation, and for an asynchronous operation X
// also X.Wait, X.QueryStatus and X.Result, its wait, its status query and its
// outcome. Scenarios are checked against it and the fuzzer picks from it, so
// that a call the model learns to fail is at once open to both.

#include <algorithm>
#include <iterator>
#include <string_view>

namespace frostcap::simulator {

inline constexpr std::string_view kFaultableCalls[] = {
    "CreateVssBackupComponents",
    "InitializeForBackup",
    "SetBackupState",
    "SetContext",
    "EnableWriterClasses",
    "GatherWriterMetadata",
    "GatherWriterMetadata.Wait",
    "GatherWriterMetadata.QueryStatus",
    "GatherWriterMetadata.Result",
    "GetWriterMetadataCount",
    "GetWriterMetadata",
    "GetIdentity",
    "GetFileCounts",
    "GetExcludeFile",
    "GetComponent",
    "GetComponentInfo",
    "FreeComponentInfo",
    "GetFile",
    "GetDatabaseFile",
    "GetDatabaseLogFile",
    "GetPath",
    "GetFilespec",
    "GetRecursive",
    "FreeWriterMetadata",
    "AddComponent",
    "StartSnapshotSet",
    "AddToSnapshotSet",
    "PrepareForBackup",
    "PrepareForBackup.Wait",
    "PrepareForBackup.QueryStatus",
    "PrepareForBackup.Result",
    "DoSnapshotSet",
    "DoSnapshotSet.Wait",
    "DoSnapshotSet.QueryStatus",
    "DoSnapshotSet.Result",
    "GetSnapshotProperties",
    "GatherWriterStatus",
    "GatherWriterStatus.Wait",
    "GatherWriterStatus.QueryStatus",
    "GatherWriterStatus.Result",
    "GetWriterStatusCount",
    "GetWriterStatus",
    "FreeWriterStatus",
    "GetWriterComponentsCount",
    "GetWriterComponents",
    "GetWriterInfo",
    "GetComponentCount",
    "IVssWriterComponents::GetComponent",
    "GetComponentName",
    "QueryInterface",
    "GetFailure",
    "SetBackupSucceeded",
    "BackupComplete",
    "BackupComplete.Wait",
    "BackupComplete.QueryStatus",
    "BackupComplete.Result",
    "AbortBackup",
};

inline bool isFaultableCall(std::string_view call) {
  return std::find(std::begin(kFaultableCalls), std::end(kFaultableCalls), call) !=
         std::end(kFaultableCalls);
}

}  // namespace frostcap::simulator
