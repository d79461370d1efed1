/* A first real backup in C (docs/first-backup-c.md): selects the mail store
 * writer's database component on C:\, takes the shadow copy, lists the
 * component's files, reads each of them inside the copy, and frees the
 * snapshot with the verdict: succeeded only when every file was read.
 *
 * Built against the simulated service (FROSTCAP_SIMULATED, which links
 * frostcap-sim), it loads the scenario that FROSTCAP_SIM_SCENARIO names, as
 * the model's vssapi.dll does on Windows, and opens the copy's files in the
 * directory that stands for the copy on this host. */
#include <stdio.h>
#include <stdlib.h>

#include "frostcap_host.h"
#include "frostcap_requester.h"
#ifdef FROSTCAP_SIMULATED
#include "frostcap_sim.h"
#endif

#define WRITER FROSTCAP_TEXT("{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}")
#define VOLUME FROSTCAP_TEXT("C:\\")

static void print(const char* label, const frostcap_char* text, size_t length) {
  char line[1024];
  frostcap_render_message(text, length, line, sizeof line);
  printf("%s%s\n", label, line);
}

static void print_messages(frostcap_snapshot* snapshot) {
  size_t length = 0;
  const frostcap_char* text;
  while ((text = frostcap_snapshot_getNextMessage(snapshot, &length)), length != 0)
    print("", text, length);
}

#ifdef _WIN32
/* Reads the file at `path` (a path inside the shadow copy) to its end, with
 * backup semantics, which SeBackupPrivilege lets past the file's access
 * rules. Returns its size, or -1 when it cannot be read. */
static long long read_file(const frostcap_char* path) {
  char buffer[65536];
  DWORD got = 0;
  long long total = 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return -1;
  while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0) total += got;
  CloseHandle(file);
  return total;
}
#else
/* Off Windows a path inside the copy is a device path that only the simulated
 * service can map to a directory of this host. */
static long long read_file(const frostcap_char* path) {
  char utf8[4096], buffer[65536];
  size_t length = 0, got;
  long long total = 0;
  const char* hostPath = NULL;
  FILE* file;
  while (path[length] != 0) ++length;
  if (frostcap_to_utf8(path, length, utf8, sizeof utf8) >= sizeof utf8) return -1;
#ifdef FROSTCAP_SIMULATED
  hostPath = frostcap_sim_hostPath(utf8);
#endif
  if (hostPath == NULL || (file = fopen(hostPath, "rb")) == NULL) return -1;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) total += (long long)got;
  fclose(file);
  return total;
}
#endif

/* The path inside the copy of a live path on VOLUME: the copy's mount path
 * with the rest of the live path after the volume name. Returns NULL for a
 * path on another volume. The caller frees it. */
static frostcap_char* path_in_copy(const frostcap_char* mount, size_t mountLength,
                                   const frostcap_char* live, size_t liveLength) {
  const frostcap_char* volume = VOLUME;
  size_t prefix = 0, i;
  frostcap_char* path;
  for (; volume[prefix] != 0; ++prefix) {
    frostcap_char a = prefix < liveLength ? live[prefix] : 0, b = volume[prefix];
    if ((a | 0x20) != (b | 0x20)) return NULL; /* drive letters in either case */
  }
  path = malloc((mountLength + liveLength - prefix + 1) * sizeof *path);
  if (path == NULL) return NULL;
  for (i = 0; i < mountLength; ++i) path[i] = mount[i];
  for (i = prefix; i < liveLength; ++i) path[mountLength + i - prefix] = live[i];
  path[mountLength + liveLength - prefix] = 0;
  return path;
}

int main(void) {
  frostcap_snapshot* snapshot;
  const frostcap_char* text;
  frostcap_char* mount = NULL;
  size_t length = 0, mountLength = 0;
  int succeeded = 1;
  long status = frostcap_requester_setup();

  if (status != 0) {
    fprintf(stderr, "this process cannot be a requester (0x%08lx)\n", (unsigned long)status);
    return 1;
  }
#ifdef FROSTCAP_SIMULATED
  if (getenv("FROSTCAP_SIM_SCENARIO") == NULL ||
      frostcap_sim_loadScenario(getenv("FROSTCAP_SIM_SCENARIO")) != 0) {
    fprintf(stderr, "no scenario: %s\n", frostcap_sim_lastError());
    return 1;
  }
#endif

  /* 1. Select the component and the volume it lies on; copy backup (5), which
   *    leaves the writer's logs and backup history alone. */
  frostcap_library_init();
  snapshot = frostcap_snapshot_new();
  if (snapshot == NULL) return 1;
  frostcap_snapshot_addVolumePath(snapshot, VOLUME);
  frostcap_snapshot_addWriterDatabaseComponentFallback(snapshot, WRITER, FROSTCAP_TEXT("Mail"),
                                                       FROSTCAP_TEXT("Mailbox Database"), NULL);
  frostcap_snapshot_setIncrementalMode(snapshot, 5);

  /* 2. Prepare and take the shadow copy; on failure the messages say why. */
  if (frostcap_snapshot_perform_a(snapshot) != 0 || frostcap_snapshot_perform_b(snapshot) != 0) {
    print_messages(snapshot);
    frostcap_snapshot_free(snapshot, 0);
    return 1;
  }

  /* 3. The copy's mount path, kept: the queue's strings change as it is read. */
  text = frostcap_snapshot_getNextMountPath(snapshot, &mountLength);
  mount = malloc((mountLength + 1) * sizeof *mount);
  if (mount == NULL) {
    frostcap_snapshot_free(snapshot, 0);
    return 1;
  }
  for (length = 0; length <= mountLength; ++length) mount[length] = text[length];
  print("mount path: ", mount, mountLength);

  /* 4. The component's files, named by their live paths, read inside the copy. */
  frostcap_snapshot_loadWriterFileInfo(snapshot);
  while (succeeded && (text = frostcap_snapshot_getNextWriterFileInfo(snapshot, &length), length)) {
    frostcap_char* inCopy = path_in_copy(mount, mountLength, text, length);
    long long size = inCopy != NULL ? read_file(inCopy) : -1;
    print("file: ", text, length);
    printf("  %lld bytes read inside the copy\n", size);
    if (size < 0) succeeded = 0;
    free(inCopy);
  }
  print_messages(snapshot);

  /* 5. The verdict: 1 only when everything was read. */
  free(mount);
  frostcap_snapshot_free(snapshot, succeeded);
  printf("backup %s\n", succeeded ? "succeeded" : "failed");
#ifdef FROSTCAP_SIMULATED
  /* What the service was told, for a test to check, as vssapi.dll writes it. */
  if (getenv("FROSTCAP_SIM_RECORD") != NULL)
    frostcap_sim_writeRecord(getenv("FROSTCAP_SIM_RECORD"));
#endif
  return succeeded ? 0 : 1;
}
