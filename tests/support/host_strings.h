#pragma once

// Helpers for tests that call the exported functions as a host does.

#include <string>
#include <vector>

#include "frostcap.h"
#include "platform/platform.h"

namespace frostcap::test {

// The host's character type is wchar_t on Windows and char16_t elsewhere;
// both are UTF-16 code units.
inline const frostcap_char* host(const std::u16string& text) {
  return reinterpret_cast<const frostcap_char*>(text.c_str());
}

inline std::string utf8(const std::u16string& text) { return platform::wideToUtf8(text); }

using GetNext = const frostcap_char* (*)(frostcap_snapshot*, size_t*);

inline constexpr GetNext kGetNextFunctions[] = {
    frostcap_snapshot_getNextMessage, frostcap_snapshot_getNextMountPath,
    frostcap_snapshot_getNextWriterComponent, frostcap_snapshot_getNextWriterFileInfo,
    frostcap_snapshot_getNextWriterExcludedFileInfo};

// Everything the queue behind `next` still holds, in order.
inline std::vector<std::u16string> drain(frostcap_snapshot* handle, GetNext next) {
  std::vector<std::u16string> read;
  size_t length = 0;
  for (const frostcap_char* text = next(handle, &length); length != 0;
       text = next(handle, &length)) {
    read.emplace_back(reinterpret_cast<const char16_t*>(text), length);
  }
  return read;
}

}  // namespace frostcap::test
