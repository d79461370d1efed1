#pragma once

// The nineteen exported functions as this host reaches them: linked in where
// the library is built with the simulated service, loaded from frostcap.dll
// on Windows. The host uses nothing else of the library.

#include <string>

#include "frostcap.h"

namespace frostcap::cli {

struct Api {
  void (*library_init)();
  frostcap_snapshot* (*snapshot_new)();
  void (*addVolumePath)(frostcap_snapshot*, const frostcap_char*);
  void (*addWriter)(frostcap_snapshot*, const frostcap_char*);
  void (*addWriterDatabaseComponentFallback)(frostcap_snapshot*, const frostcap_char*,
                                             const frostcap_char*, const frostcap_char*,
                                             const frostcap_char*);
  void (*addWriterFilegroupComponentFallback)(frostcap_snapshot*, const frostcap_char*,
                                              const frostcap_char*, const frostcap_char*,
                                              const frostcap_char*);
  void (*setIncrementalMode)(frostcap_snapshot*, unsigned int);
  void (*setUseSystemProvider)(frostcap_snapshot*);
  int (*perform_a)(frostcap_snapshot*);
  void (*loadWriterComponents)(frostcap_snapshot*);
  void (*loadWriterFileInfo)(frostcap_snapshot*);
  int (*perform_b)(frostcap_snapshot*);
  const frostcap_char* (*getNextMessage)(frostcap_snapshot*, size_t*);
  const frostcap_char* (*getNextMountPath)(frostcap_snapshot*, size_t*);
  const frostcap_char* (*getNextWriterComponent)(frostcap_snapshot*, size_t*);
  const frostcap_char* (*getNextWriterFileInfo)(frostcap_snapshot*, size_t*);
  const frostcap_char* (*getNextWriterExcludedFileInfo)(frostcap_snapshot*, size_t*);
  void (*snapshot_free)(frostcap_snapshot*, int);
};

// The functions, or an explanation of why they cannot be had.
struct ApiLoad {
  const Api* api = nullptr;
  std::string error;
};

ApiLoad loadApi();

}  // namespace frostcap::cli
