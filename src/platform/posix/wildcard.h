#pragma once

#include <string_view>

namespace frostcap::platform {

// Whether a file name matches the last component of a directory search
// pattern, the way the Windows directory search decides it: `*` stands for
// any run of units (none included), `?` for exactly one, and every other unit
// is compared with ASCII letters folded. Once the name is used up, what is
// left of the pattern may still match if it holds only `*` and `.`, so that
// "*.*" lists names without a dot and "report.*" finds "report" too.
// Time grows with the product of the two lengths at worst, never
// exponentially, however many stars the pattern has.
bool matchesWildcard(std::u16string_view pattern, std::u16string_view name);

}  // namespace frostcap::platform
