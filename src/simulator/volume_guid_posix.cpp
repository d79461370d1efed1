#include "simulator/volume_names.h"

namespace frostcap::simulator {

// No system here names volumes by GUID: the model makes the names up.
std::optional<std::u16string> systemVolumeGuidPath(std::u16string_view) { return std::nullopt; }

}  // namespace frostcap::simulator
