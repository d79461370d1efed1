/*
 * frostcap-sim — the library over a simulated shadow copy service.
 *
 * libfrostcap-sim.so (frostcap-sim.dll on Windows) exports the nineteen
 * functions of frostcap.h, which behave exactly as in the shipped library,
 * plus the functions below, which choose the service they reach and show what
 * that service was told. It is meant for developing and testing hosts where
 * no real service can be used; it is never shipped to run backups.
 *
 * Until a scenario is loaded the library answers as a system without the
 * service does: frostcap_snapshot_perform_a fails with {ERR_INIT_VSS}. The
 * scenario format is described in docs/api.md.
 *
 * Texts are UTF-8. Every pointer returned here is owned by the library; it
 * stays valid until the next call of a frostcap_sim_ function other than
 * frostcap_sim_lastError, and the caller never frees it. Call these functions
 * from the thread that drives the library, or between its calls.
 */
#ifndef FROSTCAP_SIM_H
#define FROSTCAP_SIM_H

#include <stddef.h>

#include "frostcap.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the scenario file at utf8Path and makes it the service for the whole
 * process, in place of any scenario loaded before. Returns 0 on success; 1
 * when the file cannot be used, with the reason in frostcap_sim_lastError;
 * the earlier scenario then stays. Handles that already exist keep the objects
 * they hold from the earlier scenario. */
FROSTCAP_API int frostcap_sim_loadScenario(const char* utf8Path);

/* Why the last frostcap_sim_loadScenario or frostcap_sim_writeRecord failed:
 * the file and the place within it, and what was expected there. The empty
 * string when the last of those calls succeeded. Never null; owned by the
 * library, valid until the next frostcap_sim_ call other than this one. */
FROSTCAP_API const char* frostcap_sim_lastError(void);

/* The number of entries in the record of the loaded scenario: every call its
 * service received, in order, and a "Release" entry for each backup object
 * released. 0 when no scenario is loaded. */
FROSTCAP_API size_t frostcap_sim_recordCount(void);

/* Entry `index` of the record as one line of JSON, {"call":...,"text":...},
 * for example {"call":"SetBackupSucceeded","text":"SetBackupSucceeded(...,true)"}.
 * Null when index is not below frostcap_sim_recordCount(). Owned by the
 * library, valid until the next frostcap_sim_ call other than
 * frostcap_sim_lastError. */
FROSTCAP_API const char* frostcap_sim_recordEntry(size_t index);

/* Writes the whole record to the file at utf8Path, one line per entry as
 * frostcap_sim_recordEntry gives it. Returns 0 on success; 1 when no scenario
 * is loaded or the file cannot be written, with the reason in
 * frostcap_sim_lastError. */
FROSTCAP_API int frostcap_sim_writeRecord(const char* utf8Path);

/* The directory of this host that holds the files behind a volume name or a
 * shadow copy's device path (or a path below one), for a host that wants to
 * read the data of a mount path. Null when no scenario is loaded or the name
 * is not known to it, for instance a shadow copy that has ended. Owned by the
 * library, valid until the next frostcap_sim_ call other than
 * frostcap_sim_lastError. */
FROSTCAP_API const char* frostcap_sim_hostPath(const char* utf8Path);

/* Ends the loaded scenario: the library answers as without the service again.
 * Shadow copies held by handles that still exist end with those handles. A
 * call without a loaded scenario does nothing. */
FROSTCAP_API void frostcap_sim_unload(void);

#ifdef __cplusplus
}
#endif

#endif /* FROSTCAP_SIM_H */
