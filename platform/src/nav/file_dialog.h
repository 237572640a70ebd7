// The open and save dialogs' contents and behaviour, apart from the window they live in:
// layout, drawing through a Painter, and answers to clicks and keys in local coordinates.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/image.h"
#include "nav/browser.h"
#include "nav/sheet.h"
#include "ui/widgets/controls.h"
#include "ui/widgets/text_field.h"

namespace vt::nav {

using ui::Button;
using ui::KeyPress;
using ui::Painter;
namespace key = ui::key;

enum class DialogState { running, accepted, cancelled };

struct FileDialogConfig {
  bool save = false;      // save dialog: a name field; files listed dimmed
  bool previews = false;  // open dialog: show the selected file's poster
  bool multiple = false;  // open dialog: Shift and Ctrl clicks choose several files
  bool confirmReplace = true;
  std::string title;
  std::string clientName;
  std::string message;
  std::string actionLabel;  // empty: "Open" / "Save"
  std::string cancelLabel;  // empty: "Cancel"
  std::string proposedName;
  // Save dialog: a Format pop-up of these choices; choosing one gives the name its extension.
  struct Format {
    std::string label;      // UTF-8
    std::string extension;  // without the dot; empty: the name has none
  };
  std::vector<Format> formats;
  int format = 0;  // chosen at first
  // Save dialog: true for a path that must not be proposed (a file an open movie reads); a
  // proposed name that hits one becomes "name 2.ext", "name 3.ext", ...
  std::function<bool(const std::string& path)> nameInUse;
};

// Makes the poster shown for a file; false when the file has none.
using PreviewMaker = std::function<bool(const std::string& path, Image& out)>;

class FileDialog {
 public:
  static constexpr int kWidth = 600;
  static constexpr int kHeight = 440;
  static constexpr int kRowHeight = 18;

  FileDialog(FileDialogConfig config, Browser& browser);

  void setPreviewMaker(PreviewMaker maker) { previewMaker_ = std::move(maker); }

  // Input, in the dialog's local coordinates. `ticks` is the event time (for double clicks
  // and typing to select). Each answers true when the dialog needs redrawing.
  bool click(int x, int y, uint32_t ticks, bool command = false, bool shift = false);
  bool key(const KeyPress& k);
  // A press in the name field goes on as a drag that selects; true when it moved the selection.
  bool dragging() const { return dragging_; }
  bool drag(int x, int y);
  void endDrag() { dragging_ = false; }
  // The enabled button a press at (x, y) is on, which the window tracks before it acts.
  Button* buttonAt(int x, int y);

  void draw(Painter& p);

  DialogState state() const { return state_; }
  // The chosen file (accepted only).
  const std::string& chosenPath() const { return chosen_; }
  // Every chosen file, in list order (several only when multiple files are allowed).
  std::vector<std::string> chosenPaths() const;
  // Rows chosen besides the selection (multiple files).
  const std::vector<int>& marked() const { return marked_; }
  bool replacing() const { return replacing_; }
  // Beeps owed to the user since the last call (refused keys, clicks outside choices).
  int takeBeeps();

  // What is shown, for automation and tests.
  const FileDialogConfig& config() const { return config_; }
  const std::string& name() const { return name_.text(); }
  std::string selectedName() const { return name_.selectedText(); }
  // The name field, for automation (the save dialog's only).
  ui::TextField& nameField() { return name_; }
  bool nameFocused() const { return config_.save && focus_.focused() == kNameFocus; }
  const Sheet& sheet() const { return sheet_; }
  bool pathMenuOpen() const { return pathMenuOpen_; }
  bool formatMenuOpen() const { return formatMenuOpen_; }
  int format() const { return format_; }
  const std::vector<std::string>& pathMenuItems() const { return pathChain_; }
  int scrollTop() const { return scrollTop_; }
  bool previewShown() const { return hasPreview_; }

  // Geometry, local coordinates.
  Rect listRect() const;
  Rect nameRect() const;
  Rect pathRect() const;
  Rect pathMenuItemRect(int index) const;
  Rect formatRect() const;  // the Format pop-up (save dialogs given formats)
  Rect formatMenuItemRect(int index) const { return formatMenu_.itemRect(index); }
  Rect previewRect() const;
  Rect rowRect(int index) const;  // of a listed entry, given the scroll position
  const std::vector<Button>& buttons() const { return buttons_; }
  enum { kCancelButton = 0, kActionButton = 1 };

  // Actions the automation uses as a user would.
  bool goToFolder(const std::string& folder);
  void setName(const std::string& name);
  // Chooses a format: the name's extension, if it is one of the formats', becomes its. A name
  // typed with a format's extension chooses that format; one saved without its format's
  // extension gets it, so a file's extension always says what it holds.
  bool chooseFormat(int index);
  bool pressAction();
  void pressCancel();
  bool answerSheet(bool confirm);

 private:
  void selectNameStem();
  // `n`, or the first free numbered form of it when it names a file in use here.
  std::string proposable(const std::string& n) const;
  void layoutButtons();
  void updateButtons();
  void ensureVisible();
  int visibleRows() const;
  bool activateSelection();
  bool trySave();
  void followTypedExtension();
  void showSheet(const std::string& message, const std::string& detail, bool question);
  void refreshPreview();
  bool listFocused() const { return focus_.focused() == kListFocus; }
  void focusList();
  void drawList(Painter& p);
  void markRows(int row, bool toggle);

  FileDialogConfig config_;
  Browser& browser_;
  PreviewMaker previewMaker_;
  std::vector<Button> buttons_;
  Sheet sheet_;
  bool sheetIsQuestion_ = false;
  std::string pendingPath_;
  bool pathMenuOpen_ = false;
  std::vector<std::string> pathChain_;
  ui::PopupMenu pathMenu_;
  bool formatMenuOpen_ = false;
  ui::PopupMenu formatMenu_;
  int format_ = 0;
  ui::TextField name_;
  // Save dialog: Tab moves between the name and the list; arrows drive the list when it was
  // used last. The open dialog has only the list.
  enum { kNameFocus = 0, kListFocus = 1 };
  ui::FocusChain focus_;
  bool dragging_ = false;
  int scrollTop_ = 0;
  std::vector<int> marked_;  // sorted
  int lastClickRow_ = -1;
  uint32_t lastClickTick_ = 0;
  DialogState state_ = DialogState::running;
  std::string chosen_;
  std::vector<std::string> chosenList_;
  bool replacing_ = false;
  int beeps_ = 0;
  std::string previewFor_;
  Image preview_;
  bool hasPreview_ = false;
};

}  // namespace vt::nav
