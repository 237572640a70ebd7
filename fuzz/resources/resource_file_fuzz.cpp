// Fuzz target for the resource file parser. Built for libFuzzer with clang; otherwise linked
// with replay_main.cpp, which feeds it the files named on the command line.
#include "resources/resource_file.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto result =
      vt::resources::parseResourceFile(std::string_view(reinterpret_cast<const char*>(data), size));
  if (result.file) {
    // Touch what the menu and dialog managers read, so bad values surface under the sanitizers.
    size_t n = 0;
    for (const auto& [id, menu] : result.file->menus) n += menu.title.size() + menu.items.size();
    for (const auto& [id, d] : result.file->dialogs) n += d.items.size() + (size_t)d.defaultItem;
    (void)n;
  }
  return 0;
}
