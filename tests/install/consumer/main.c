/* A host built against an installed frostcap: asks for a shadow copy of C:\,
 * which no service can make here, and prints what the library hands back. */
#include <stdio.h>

#include "frostcap.h"

#ifndef FROSTCAP_VERSION
#error "frostcap.h does not define FROSTCAP_VERSION"
#endif

/* ASCII is all this host expects; anything else shows as '?'. */
static void print_text(const frostcap_char* text, size_t length) {
  size_t i;
  for (i = 0; i < length; ++i) putchar(text[i] < 0x80 ? (int)text[i] : '?');
  putchar('\n');
}

int main(void) {
  static const frostcap_char volume[] = {'C', ':', '\\', 0};
  frostcap_snapshot* snapshot;
  const frostcap_char* text;
  size_t length = 0;
  int failed;

  printf("header version %s\n", FROSTCAP_VERSION);
  frostcap_library_init();
  snapshot = frostcap_snapshot_new();
  if (snapshot == NULL) return 1;
  frostcap_snapshot_addVolumePath(snapshot, volume);
  failed = frostcap_snapshot_perform_a(snapshot);
  printf("perform_a %d\n", failed);
  for (text = frostcap_snapshot_getNextMessage(snapshot, &length); length != 0;
       text = frostcap_snapshot_getNextMessage(snapshot, &length)) {
    printf("message ");
    print_text(text, length);
  }
  frostcap_snapshot_free(snapshot, 0);
  printf("done\n");
  return 0;
}
