// The inside of a user data list, shared by the user data operations and the movie file
// reader/writer (which stores the items as the children of a 'udta' atom, in this order).
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <vector>

struct VTUserData {
  struct Item {
    OSType type;
    std::vector<uint8_t> data;  // the item's bytes exactly as stored in the file
  };
  std::vector<Item> items;
};
