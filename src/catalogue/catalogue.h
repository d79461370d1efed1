#pragma once

// The catalogue of every writer's components, as text lines for the host (one
// JSON array per component) and as records the preparation phase matches the
// host's selections against.

#include <string>
#include <string_view>

#include "frame/snapshot.h"
#include "frame/step_result.h"

namespace frostcap {

// Rebuilds writerComponents and writerCatalogue from the service's writer
// metadata; a failure is queued as a warning. An exception is left to the
// caller: the preparation phase, whose guard reports it.
void loadWriterComponents(Snapshot& snapshot);

// The same for the host's own request, which no phase surrounds: an exception
// ends the listing as a failed call would, its text the warning's detail.
void loadWriterComponentsGuarded(Snapshot& snapshot);

StepResult buildComponentCatalogue(Snapshot& snapshot);

// The text with every double quote, backslash and control character U+0000 to
// U+001F written as a six-character \u00XX escape (lower-case hex); all else,
// non-ASCII text included, unchanged. Unpaired surrogates become U+FFFD.
std::u16string escapeCatalogueText(std::u16string_view text);

}  // namespace frostcap
