// The frei0r plugin host: finds the plugins on this machine, loads each once, turns sources,
// filters and two-input mixers into catalogue effects and renders them. Plugins are outside
// code: each one is first tried in a child process, and one that crashes or hangs there is
// remembered in a cache and left out from then on.
#pragma once
#include <string>
#include <vector>

#include "core/image.h"
#include "effects/catalogue.h"

namespace vt::effects {
struct ParamSet;
}

namespace vt::effects::frei0r {

// The largest frame side frei0r allows; larger frames are processed in tiles.
constexpr int kMaxSide = 2048;
// The shortest side a plugin is given; smaller frames are enlarged by a whole factor.
constexpr int kMinSide = 256;

// Folders searched, in order: $FREI0R_PATH alone when it is set (empty: none), otherwise
// ~/.frei0r-1/lib, /usr/local/lib/frei0r-1, /usr/lib/frei0r-1 and the multiarch folder.
std::vector<std::string> searchPath();

// Where probe results are kept: $XDG_CACHE_HOME/vantrel/frei0r-probe (or ~/.cache/...).
std::string probeCachePath();

// The plugins found, as catalogue effects (sorted by name; pluginId set). Loads them on the
// first call; later calls return the same list.
const std::vector<EffectInfo>& pluginEffects();

// Renders a plugin effect. Inputs are already at out's size (null for a generator's, and B
// for a filter's). `seconds` is the plugin's clock. False when the plugin cannot render
// (out is then left as source A, or black).
bool render(const EffectInfo& info, const ParamSet& params, const Image* a, const Image* b,
            Image& out, double seconds);

// The tile grid used for a frame of this size: tiles across and down, and the tile size (each a
// multiple of 8, at most kMaxSide).
struct TileGrid {
  int across = 1, down = 1, width = 0, height = 0;
};
TileGrid tileGrid(int width, int height);
// The whole factor a frame is enlarged by before it reaches a plugin (1: not at all).
int upscale(int width, int height);

}  // namespace vt::effects::frei0r
