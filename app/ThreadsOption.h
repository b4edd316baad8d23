// The threads of `knn run`: the settings text that the program hands to the component carries
// the thread count of --threads as the key Threads, added to the text in memory (the user's
// file is not changed). Results do not depend on it, so the program uses every processor
// unless told otherwise.
#pragma once

#include <optional>
#include <string>

namespace knncli {

// `text` with a Threads parameter of `threads` (0: one per processor) added to its parameters.
// A document that sets Threads itself is handed over as it is when `threads` is not given
// (its value is the component's to judge); given both ways, it is a usage error (CliError).
// A document without a parameters section gets one.
std::string SettingsWithThreads(const std::string& text, std::optional<int> threads);

}  // namespace knncli
