// The resource file fuzz driver only replays its corpus: no seeds to mutate.
#include "replay_driver.h"

std::vector<std::vector<uint8_t>> vtFuzzSeeds() { return {}; }
