// The shipped library's answer: every directory is the one it names.

#include "platform/mapped_directory.h"

namespace frostcap::platform {

std::optional<std::string> mappedDirectory(std::u16string_view) noexcept { return std::nullopt; }

}  // namespace frostcap::platform
