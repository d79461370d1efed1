/* A minimal C host: takes a snapshot of the volumes named on the command line
 * (C:\ when none is named) and prints every mount path and message. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frostcap.h"

/* Prints UTF-16 text as UTF-8. */
static void print_text(const frostcap_char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    unsigned long cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (cp < 0x80) {
      putchar((int)cp);
    } else if (cp < 0x800) {
      putchar((int)(0xC0 | (cp >> 6)));
      putchar((int)(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      putchar((int)(0xE0 | (cp >> 12)));
      putchar((int)(0x80 | ((cp >> 6) & 0x3F)));
      putchar((int)(0x80 | (cp & 0x3F)));
    } else {
      putchar((int)(0xF0 | (cp >> 18)));
      putchar((int)(0x80 | ((cp >> 12) & 0x3F)));
      putchar((int)(0x80 | ((cp >> 6) & 0x3F)));
      putchar((int)(0x80 | (cp & 0x3F)));
    }
  }
  putchar('\n');
}

/* Widens an ASCII argument; good enough for volume names such as C:\. */
static frostcap_char* widen(const char* text) {
  size_t length = strlen(text);
  frostcap_char* wide = malloc((length + 1) * sizeof *wide);
  if (wide == NULL) exit(1);
  for (size_t i = 0; i <= length; ++i) wide[i] = (frostcap_char)(unsigned char)text[i];
  return wide;
}

static void drain(frostcap_snapshot* snapshot, const char* label,
                  const frostcap_char* (*next)(frostcap_snapshot*, size_t*)) {
  size_t length = 0;
  for (const frostcap_char* text = next(snapshot, &length); length != 0;
       text = next(snapshot, &length)) {
    printf("%s: ", label);
    print_text(text, length);
  }
}

int main(int argc, char** argv) {
  frostcap_library_init();
  frostcap_snapshot* snapshot = frostcap_snapshot_new();
  if (snapshot == NULL) return 1;

  if (argc < 2) {
    frostcap_char* volume = widen("C:\\");
    frostcap_snapshot_addVolumePath(snapshot, volume);
    free(volume);
  }
  for (int i = 1; i < argc; ++i) {
    frostcap_char* volume = widen(argv[i]);
    frostcap_snapshot_addVolumePath(snapshot, volume);
    free(volume);
  }

  int failed = frostcap_snapshot_perform_a(snapshot);
  if (!failed) failed = frostcap_snapshot_perform_b(snapshot);
  drain(snapshot, "mount path", frostcap_snapshot_getNextMountPath);
  drain(snapshot, "message", frostcap_snapshot_getNextMessage);
  printf("snapshot %s\n", failed ? "failed" : "taken");

  frostcap_snapshot_free(snapshot, failed ? 0 : 1);
  return failed;
}
