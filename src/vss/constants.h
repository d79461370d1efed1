#pragma once

// The values of the shadow copy service that the library passes or compares
// and that the simulated service answers with, each under the name the
// platform's headers give it. One definition for both sides, so that the
// model and the library cannot drift apart on a number; code that includes
// the platform's headers uses their names instead.

#include <cstdint>

#include "status/status.h"

namespace frostcap::vss {

namespace detail {
constexpr Status code(std::uint32_t value) { return static_cast<Status>(value); }
}  // namespace detail

// Status codes.
inline constexpr Status kAsyncPending = detail::code(0x00042309);    // VSS_S_ASYNC_PENDING
inline constexpr Status kNotImplemented = detail::code(0x80004001);  // E_NOTIMPL
inline constexpr Status kInvalidPointer = detail::code(0x80004003);  // E_POINTER
inline constexpr Status kBadState = detail::code(0x80042301);        // VSS_E_BAD_STATE
inline constexpr Status kObjectNotFound = detail::code(0x80042308);  // VSS_E_OBJECT_NOT_FOUND
inline constexpr Status kObjectAlreadyExists =
    detail::code(0x8004230D);  // VSS_E_OBJECT_ALREADY_EXISTS
inline constexpr Status kUnexpectedProviderError =
    detail::code(0x8004230F);  // VSS_E_UNEXPECTED_PROVIDER_ERROR
inline constexpr Status kSnapshotSetInProgress =
    detail::code(0x80042316);  // VSS_E_SNAPSHOT_SET_IN_PROGRESS
inline constexpr Status kUnsupportedContext =
    detail::code(0x8004231B);  // VSS_E_UNSUPPORTED_CONTEXT
inline constexpr Status kWriterErrorPartialFailure =
    detail::code(0x80042336);  // VSS_E_WRITERERROR_PARTIAL_FAILURE
inline constexpr Status kInvalidArgument = detail::code(0x80070057);  // E_INVALIDARG

// Component types.
inline constexpr std::uint32_t kComponentTypeDatabase = 1;   // VSS_CT_DATABASE
inline constexpr std::uint32_t kComponentTypeFilegroup = 2;  // VSS_CT_FILEGROUP

// Backup types.
inline constexpr std::uint32_t kBackupTypeIncremental = 2;  // VSS_BT_INCREMENTAL
inline constexpr std::uint32_t kBackupTypeOther = 6;        // VSS_BT_OTHER, the last there is

// Contexts, and the attributes they are made of.
inline constexpr std::int32_t kContextBackup = 0x0;         // VSS_CTX_BACKUP
inline constexpr std::int32_t kAttributePersistent = 0x01;  // VSS_VOLSNAP_ATTR_PERSISTENT
inline constexpr std::int32_t kAttributeNoWriters = 0x10;   // VSS_VOLSNAP_ATTR_NO_WRITERS
inline constexpr std::int32_t kContextFileShareBackup =
    kAttributeNoWriters;  // VSS_CTX_FILE_SHARE_BACKUP

// Writer states.
inline constexpr std::int32_t kWriterStateStable = 1;  // VSS_WS_STABLE
inline constexpr std::int32_t kWriterStateFailedAtPrepareSnapshot =
    8;  // VSS_WS_FAILED_AT_PREPARE_SNAPSHOT

}  // namespace frostcap::vss
