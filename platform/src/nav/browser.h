// The folder browser behind the open and save dialogs: one folder's listing, filtered and
// sorted, a selection, typing to select, and the folder chain for the path menu. It knows
// nothing of windows; the dialogs draw it and feed it keys and clicks.
#pragma once
#include <Files.h>
#include <MacTypes.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vt::nav {

struct Entry {
  std::string name;  // the host name, full length (may exceed 63 bytes)
  bool isFolder = false;
  bool hidden = false;  // dot files
  bool enabled = true;  // false: listed but not choosable (files in the save dialog)
  OSType type = 0;      // file type from its content; 0 for folders or when not asked
  OSType creator = 0;
  uint64_t size = 0;
  int64_t modified = 0;  // seconds since the Unix epoch
};

// Decides whether a listed entry is shown; gets the entry with its type filled.
using EntryFilter = std::function<bool(const std::string& folder, const Entry&)>;
// Fills the type and creator of a file (from its content); false when it cannot be read.
using EntryTyper = std::function<bool(const std::string& path, OSType& type, OSType& creator)>;

// Case-insensitive (ASCII) name order, folders before files; ties broken bytewise so the
// order is total.
bool entryBefore(const Entry& a, const Entry& b);

// Canonical absolute form of a folder path ("/" for the root, no trailing slash otherwise).
std::string normaliseFolder(const std::string& path);
// The chain from the folder up to the root: {"/a/b", "/a", "/"}.
std::vector<std::string> folderChain(const std::string& folder);
// The last component of a path ("/" for the root).
std::string displayName(const std::string& folder);
std::string joinPath(const std::string& folder, const std::string& name);

class Browser {
 public:
  Browser() = default;

  void setTyper(EntryTyper typer) { typer_ = std::move(typer); }
  void setFilter(EntryFilter filter) { filter_ = std::move(filter); }
  void setShowHidden(bool show) { showHidden_ = show; }
  // Files are listed but cannot be chosen (the save dialog lists them dimmed).
  void setFilesDisabled(bool disabled) { filesDisabled_ = disabled; }

  // Lists `folder`; false (and an empty listing, folder unchanged) when it cannot be read.
  bool open(const std::string& folder);
  // Lists the current folder again, keeping the selection by name where possible.
  bool reload();
  // Goes to the parent folder and selects the folder we came from. False at the root.
  bool goUp();
  // Enters the selected entry when it is a folder.
  bool enterSelected();

  const std::string& folder() const { return folder_; }
  const std::vector<Entry>& entries() const { return entries_; }
  bool readError() const { return readError_; }
  // Number of entries the filter was asked about in the last listing.
  size_t filterCalls() const { return filterCalls_; }

  int selected() const { return selected_; }  // -1: none
  const Entry* selectedEntry() const;
  std::string selectedPath() const;
  void select(int index);  // clamped; -1 clears
  void moveSelection(int delta);
  void selectFirst();
  void selectLast();
  bool selectByName(const std::string& name);

  // Typing to select: characters typed within `resetTicks` of each other form a prefix; the
  // first entry whose name starts with it (case-insensitively), or else the first after it in
  // name order, is selected.
  void typeSelect(std::string_view utf8, uint32_t nowTicks, uint32_t resetTicks = 60);

 private:
  EntryTyper typer_;
  EntryFilter filter_;
  bool showHidden_ = false;
  bool filesDisabled_ = false;
  std::string folder_;
  std::vector<Entry> entries_;
  bool readError_ = false;
  size_t filterCalls_ = 0;
  int selected_ = -1;
  std::string typed_;
  uint32_t lastTypeTick_ = 0;
};

}  // namespace vt::nav
