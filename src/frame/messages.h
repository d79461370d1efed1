#pragma once

// Every text the library queues for its host, in one place. Texts are built of
// brace tokens that the host replaces with its own wording; the library never
// expands them. Details nest: a failed step's text becomes the parenthesised
// detail of the message that reports it.

#include <string>
#include <string_view>

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
// A road this build does not drive yet.
inline constexpr std::u16string_view kNotImplemented = u"{FATAL_PREFIX}{ERR_NOT_IMPLEMENTED}";

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

}  // namespace frostcap::messages
