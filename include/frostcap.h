/*
 * frostcap — point-in-time shadow copies of volumes for backup applications.
 *
 * This header is the library's whole contract: a function that does not appear
 * here is not part of the published interface. It compiles as C99 and as C++.
 *
 * Calling order:
 *   1. frostcap_library_init, once per process, before anything else, on the
 *      thread that will drive the library.
 *   2. frostcap_snapshot_new.
 *   3. Any number of addVolumePath, addWriter, addWriter...ComponentFallback,
 *      setIncrementalMode, setUseSystemProvider.
 *   4. frostcap_snapshot_perform_a (preparation).
 *   5. Optionally loadWriterComponents then getNextWriterComponent until it
 *      yields length 0; optionally loadWriterFileInfo then getNextWriterFileInfo
 *      and getNextWriterExcludedFileInfo.
 *   6. frostcap_snapshot_perform_b (the shadow copies), then getNextMountPath
 *      until it yields length 0. Read the data from the mount paths.
 *   7. frostcap_snapshot_free with the backup's verdict; this ends the shadow
 *      copies.
 * getNextMessage may be called at any point between 2 and 7. Problems are
 * never returned as error codes beyond the 0/1 of the perform functions: they
 * are queued as message texts made of brace tokens ("{FATAL_PREFIX}",
 * "{ERR_TAKE_SNAPSHOT}", ...) for the host to translate.
 *
 * Strings are NUL-terminated UTF-16. A null string argument is taken as the
 * empty string; a null handle makes a call do nothing (the perform functions
 * then return 1, the getNext functions the empty string). A handle is used by
 * one thread at a time.
 *
 * What the host process must do itself on Windows, because it concerns the
 * whole process and the library cannot do it on the host's behalf:
 *   - Run elevated: as an administrator from an elevated token, or as a
 *     service (Local System). Without it the service refuses to start a
 *     backup ({ERR_NO_PERMISSION}).
 *   - Be a 64-bit process on 64-bit Windows; the shadow copy service does not
 *     serve requesters that run under WOW64.
 *   - Drive the library from a thread in the multithreaded COM apartment, or
 *     one without COM, which frostcap_library_init then puts there. A thread
 *     already in a single-threaded apartment cannot be moved.
 *   - Before any other COM call of the process, call CoInitializeSecurity with
 *     the settings documented for requesters: a null security descriptor,
 *     cAuthSvc -1, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE,
 *     EOAC_STATIC_CLOAKING. Otherwise writers running under other accounts
 *     cannot call back into the process and fail (event 8194 in the
 *     Application log). Then set COMGLB_EXCEPTION_HANDLING to
 *     COMGLB_EXCEPTION_DONOT_HANDLE through IGlobalOptions, so that COM does
 *     not hide a crash during a writer's callback.
 *   - Enable SeBackupPrivilege in its own token before reading files from the
 *     shadow copies, so that file permissions do not hide files from it.
 * The library's default backup type is 2, incremental, which lets writers
 * truncate their logs as after a real backup. A host that does not take over
 * the writers' backup history passes 5, copy, to setIncrementalMode.
 */
#ifndef FROSTCAP_H
#define FROSTCAP_H

#include <stddef.h>

#define FROSTCAP_VERSION_MAJOR 0
#define FROSTCAP_VERSION_MINOR 1
#define FROSTCAP_VERSION_PATCH 0
#define FROSTCAP_VERSION "0.1.0"

#if defined(_WIN32)
#if defined(FROSTCAP_BUILDING)
#define FROSTCAP_API __declspec(dllexport)
#elif defined(FROSTCAP_STATIC)
#define FROSTCAP_API
#else
#define FROSTCAP_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define FROSTCAP_API __attribute__((visibility("default")))
#else
#define FROSTCAP_API
#endif

/* UTF-16 code unit: wchar_t on Windows, a 16-bit unsigned type elsewhere. */
#if defined(_WIN32)
typedef wchar_t frostcap_char;
#elif defined(__cplusplus)
typedef char16_t frostcap_char;
#else
#include <stdint.h>
typedef uint_least16_t frostcap_char; /* the type that char16_t names in C */
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handle: one backup, from its configuration to its release. */
typedef struct frostcap_snapshot frostcap_snapshot;

/* Initialises COM on the calling thread (multithreaded apartment). Only the
 * first call in a process has an effect. It neither sets COM security nor
 * changes a thread already in a single-threaded apartment: see above for
 * what the host does itself. The first call also reads FROSTCAP_TRACE: when
 * it names a file, every call the library then makes to the shadow copy
 * service is appended to it as a JSON line (docs/api.md, "The trace"). */
FROSTCAP_API void frostcap_library_init(void);

/* Returns 1 when path is NOT a network path and 0 when it is one (a UNC path
 * such as \\server\share). Note the reversed sense. */
FROSTCAP_API int frostcap_pathIsNetworkPath(const frostcap_char* path);

/* Creates a handle. Returns null only when memory is exhausted. The handle is
 * owned by the caller until frostcap_snapshot_free. */
FROSTCAP_API frostcap_snapshot* frostcap_snapshot_new(void);

/* Adds a volume to copy, exactly as given (for example C:\). */
FROSTCAP_API void frostcap_snapshot_addVolumePath(frostcap_snapshot* snapshot,
                                                  const frostcap_char* volumePath);

/* Selects a writer by its class id, a GUID in braces. */
FROSTCAP_API void frostcap_snapshot_addWriter(frostcap_snapshot* snapshot,
                                              const frostcap_char* writerId);

/* Selects a database component of a writer. When the component is not found
 * under logicalPath it is looked for under fallbackLogicalPath (empty: none). */
FROSTCAP_API void frostcap_snapshot_addWriterDatabaseComponentFallback(
    frostcap_snapshot* snapshot, const frostcap_char* writerId, const frostcap_char* logicalPath,
    const frostcap_char* componentName, const frostcap_char* fallbackLogicalPath);

/* Selects a file-group component of a writer; as above. */
FROSTCAP_API void frostcap_snapshot_addWriterFilegroupComponentFallback(
    frostcap_snapshot* snapshot, const frostcap_char* writerId, const frostcap_char* logicalPath,
    const frostcap_char* componentName, const frostcap_char* fallbackLogicalPath);

/* Sets the backup type passed on when writers are selected (default 2,
 * incremental, which lets writers truncate their logs; 5, copy, does not).
 * Stored unchanged, without a range check. */
FROSTCAP_API void frostcap_snapshot_setIncrementalMode(frostcap_snapshot* snapshot,
                                                       unsigned int mode);

/* Uses the operating system's own software shadow-copy provider instead of
 * letting the service choose one. */
FROSTCAP_API void frostcap_snapshot_setUseSystemProvider(frostcap_snapshot* snapshot);

/* Preparation phase. Returns 0 on success, 1 on failure or refusal (a message
 * is then queued). */
FROSTCAP_API int frostcap_snapshot_perform_a(frostcap_snapshot* snapshot);

/* Rebuilds the component catalogue read by getNextWriterComponent. Failures
 * are queued as a warning message. */
FROSTCAP_API void frostcap_snapshot_loadWriterComponents(frostcap_snapshot* snapshot);

/* Rebuilds the file inventory read by getNextWriterFileInfo and appends to the
 * one read by getNextWriterExcludedFileInfo. Failures are queued as a warning. */
FROSTCAP_API void frostcap_snapshot_loadWriterFileInfo(frostcap_snapshot* snapshot);

/* Creates the shadow copies. Returns 0 on success, 1 on failure or refusal (a
 * message is then queued). A handle produces at most one snapshot. */
FROSTCAP_API int frostcap_snapshot_perform_b(frostcap_snapshot* snapshot);

/* The getNext functions hand out the next entry of one of the handle's queues
 * and store its length in UTF-16 units, without the terminator, through length
 * (which may be null). Empty entries are skipped; an exhausted queue yields an
 * empty string and length 0, never a null pointer.
 * Lifetime: the returned string is owned by the handle; it stays valid until
 * the next append to that queue, the next load... call that rebuilds it, or
 * frostcap_snapshot_free; the caller never frees it. */
FROSTCAP_API const frostcap_char* frostcap_snapshot_getNextMessage(frostcap_snapshot* snapshot,
                                                                   size_t* length);
FROSTCAP_API const frostcap_char* frostcap_snapshot_getNextMountPath(frostcap_snapshot* snapshot,
                                                                     size_t* length);
FROSTCAP_API const frostcap_char* frostcap_snapshot_getNextWriterComponent(
    frostcap_snapshot* snapshot, size_t* length);
FROSTCAP_API const frostcap_char* frostcap_snapshot_getNextWriterFileInfo(
    frostcap_snapshot* snapshot, size_t* length);
FROSTCAP_API const frostcap_char* frostcap_snapshot_getNextWriterExcludedFileInfo(
    frostcap_snapshot* snapshot, size_t* length);

/* Completes the backup with the caller's verdict (1: succeeded, anything else:
 * not), ends the shadow copies and destroys the handle with every string it
 * handed out. Unread messages are lost. frostcap_snapshot_free(NULL, v) is a
 * harmless no-op. */
FROSTCAP_API void frostcap_snapshot_free(frostcap_snapshot* snapshot, int verdict);

#ifdef __cplusplus
}
#endif

#endif /* FROSTCAP_H */
