/* A host built the way Microsoft's tools build one: compiled for the MSVC
 * target and linked by lld-link against frostcap.lib. Microsoft's C run-time
 * is not available here, so it has none: its entry point is its own and it
 * calls nothing but kernel32 and the library.
 *
 * It takes a snapshot of C:\ with the example's mail database, prints the
 * mount paths and messages, and frees the handle with verdict 1 when both
 * phases succeeded. Over frostcap-sim (loaded as frostcap.dll) it loads the
 * scenario that FROSTCAP_SIM_SCENARIO names and writes the record to
 * FROSTCAP_SIM_RECORD itself; over the shipped library, the service model
 * reads those variables. */
#include "frostcap.h"

typedef void* Handle;
typedef int (*Simulation)(const char* utf8Path);
__declspec(dllimport) Handle GetStdHandle(unsigned long which);
__declspec(dllimport) int WriteFile(Handle file, const void* data, unsigned long size,
                                    unsigned long* written, void* overlapped);
__declspec(dllimport) void ExitProcess(unsigned int code);
__declspec(dllimport) Handle GetModuleHandleW(const wchar_t* name);
__declspec(dllimport) Simulation GetProcAddress(Handle module, const char* name);
__declspec(dllimport) unsigned long GetEnvironmentVariableA(const char* name, char* value,
                                                            unsigned long size);

static void write(const char* text, unsigned long size) {
  unsigned long written;
  WriteFile(GetStdHandle((unsigned long)-11), text, size, &written, 0);
}

/* A label, then UTF-16 text (outside ASCII as '?') and a line end. */
static void print(const char* label, const wchar_t* text, size_t length) {
  char line[512];
  size_t size = 0;
  while (label[size] != 0) line[size] = label[size], ++size;
  for (size_t i = 0; i < length && size < sizeof line - 1; ++i) {
    line[size++] = text[i] < 0x80 ? (char)text[i] : '?';
  }
  line[size++] = '\n';
  write(line, (unsigned long)size);
}

/* Calls the simulation's function `name` with the path in environment
 * variable `variable`, when the loaded library has that function and the
 * variable is set. */
static int simulation(const char* name, const char* variable) {
  char path[1024];
  Simulation function = GetProcAddress(GetModuleHandleW(L"frostcap.dll"), name);
  unsigned long size = GetEnvironmentVariableA(variable, path, sizeof path);
  return function != 0 && size > 0 && size < sizeof path ? function(path) : 0;
}

static int run(void) {
  if (simulation("frostcap_sim_loadScenario", "FROSTCAP_SIM_SCENARIO") != 0) {
    write("the scenario cannot be loaded\n", 30);
    return 2;
  }
  frostcap_library_init();
  frostcap_snapshot* snapshot = frostcap_snapshot_new();
  frostcap_snapshot_addVolumePath(snapshot, L"C:\\");
  frostcap_snapshot_addWriterDatabaseComponentFallback(
      snapshot, L"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}", L"Mail", L"Mailbox Database", L"");
  int failed = frostcap_snapshot_perform_a(snapshot) || frostcap_snapshot_perform_b(snapshot);
  size_t length;
  for (const wchar_t* path = frostcap_snapshot_getNextMountPath(snapshot, &length); length;
       path = frostcap_snapshot_getNextMountPath(snapshot, &length)) {
    print("mount path: ", path, length);
  }
  for (const wchar_t* text = frostcap_snapshot_getNextMessage(snapshot, &length); length;
       text = frostcap_snapshot_getNextMessage(snapshot, &length)) {
    print("message: ", text, length);
  }
  frostcap_snapshot_free(snapshot, failed ? 0 : 1);
  write(failed ? "snapshot failed\n" : "snapshot taken\n", failed ? 16 : 15);
  return failed || simulation("frostcap_sim_writeRecord", "FROSTCAP_SIM_RECORD") != 0;
}

void mainCRTStartup(void) { ExitProcess((unsigned)run()); }
