/* A host built the way Microsoft's tools build one: compiled for the MSVC
 * target and linked by lld-link against frostcap.lib. Microsoft's C run-time
 * is not available here, so it has none: its entry point is its own and it
 * calls nothing but kernel32 and the library.
 *
 * It takes a snapshot of C:\ with the example's mail database, prints the
 * mount paths and messages, and frees the handle with verdict 1 when both
 * phases succeeded. The service model beside it takes its scenario from
 * FROSTCAP_SIM_SCENARIO and writes its record to FROSTCAP_SIM_RECORD. */
#include "frostcap.h"

typedef void* Handle;
__declspec(dllimport) Handle GetStdHandle(unsigned long which);
__declspec(dllimport) int WriteFile(Handle file, const void* data, unsigned long size,
                                    unsigned long* written, void* overlapped);
__declspec(dllimport) void ExitProcess(unsigned int code);

/* A label, then UTF-16 text (outside ASCII as '?') and a line end. */
static void print(const char* label, const wchar_t* text, size_t length) {
  char line[512];
  unsigned long size = 0, written;
  while (label[size] != 0) line[size] = label[size], ++size;
  for (size_t i = 0; i < length && size < sizeof line - 1; ++i) {
    line[size++] = text[i] < 0x80 ? (char)text[i] : '?';
  }
  line[size++] = '\n';
  WriteFile(GetStdHandle((unsigned long)-11), line, size, &written, 0);
}

static int run(void) {
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
  print(failed ? "snapshot failed" : "snapshot taken", L"", 0);
  return failed;
}

void mainCRTStartup(void) { ExitProcess((unsigned)run()); }
