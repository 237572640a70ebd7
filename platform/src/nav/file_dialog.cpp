#include "nav/file_dialog.h"

#include <Events.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "core/macroman.h"

namespace vt::nav {

using ui::inRect;
using ui::makeRect;
namespace colour = ui::colour;

namespace {
constexpr size_t kMaxNameBytes = 255;  // the host's limit for one name
constexpr int kPathMenuRow = 20;
}  // namespace

FileDialog::FileDialog(FileDialogConfig config, Browser& browser)
    : config_(std::move(config)), browser_(browser) {
  name_.setMaxBytes(kMaxNameBytes);
  name_.setFilter([](char32_t c) { return c != '/'; });  // the path separator is never in a name
  name_.setText(config_.proposedName);
  selectNameStem();
  if (!config_.formats.empty())
    format_ = std::clamp(config_.format, 0, (int)config_.formats.size() - 1);
  if (config_.save)
    focus_.setOrder({kNameFocus, kListFocus});
  else
    focus_.setOrder({kListFocus});
  layoutButtons();
  // The proposed name takes the extension of the format proposed.
  if (!config_.formats.empty()) chooseFormat(format_);
  updateButtons();
  refreshPreview();
}

Rect FileDialog::nameRect() const { return makeRect(96, 38, 420, 60); }

Rect FileDialog::pathRect() const {
  int top = config_.save ? 70 : 38;
  return makeRect(16, top, 320, top + 22);
}

Rect FileDialog::pathMenuItemRect(int index) const { return pathMenu_.itemRect(index); }

// Beside the buttons, after its label.
Rect FileDialog::formatRect() const {
  if (!config_.save || config_.formats.empty()) return Rect{};
  return makeRect(76, 400, 340, 424);
}

Rect FileDialog::listRect() const {
  int top = pathRect().bottom + 8;
  int right = config_.previews && !config_.save ? 404 : kWidth - 16;
  return makeRect(16, top, right, 384);
}

Rect FileDialog::previewRect() const {
  Rect l = listRect();
  return makeRect(l.right + 12, l.top, kWidth - 16, l.top + 144);
}

int FileDialog::visibleRows() const {
  Rect l = listRect();
  return std::max(1, (l.bottom - l.top - 2) / kRowHeight);
}

Rect FileDialog::rowRect(int index) const {
  Rect l = listRect();
  int top = l.top + 1 + (index - scrollTop_) * kRowHeight;
  return makeRect(l.left + 1, top, l.right - 1, top + kRowHeight);
}

void FileDialog::layoutButtons() {
  buttons_.clear();
  Button cancel;
  cancel.rect = makeRect(kWidth - 16 - 96 - 12 - 96, 400, kWidth - 16 - 96 - 12, 424);
  cancel.label = config_.cancelLabel.empty() ? "Cancel" : config_.cancelLabel;
  Button action;
  action.rect = makeRect(kWidth - 16 - 96, 400, kWidth - 16, 424);
  action.label =
      !config_.actionLabel.empty() ? config_.actionLabel : (config_.save ? "Save" : "Open");
  action.isDefault = true;
  buttons_.push_back(cancel);
  buttons_.push_back(action);
}

void FileDialog::updateButtons() {
  Button& action = buttons_[kActionButton];
  if (config_.save) {
    action.enabled = !name().empty();
  } else {
    const Entry* e = browser_.selectedEntry();
    action.enabled = e && e->enabled;
  }
}

int FileDialog::takeBeeps() {
  int b = beeps_;
  beeps_ = 0;
  return b;
}

void FileDialog::ensureVisible() {
  int sel = browser_.selected();
  int rows = visibleRows();
  int count = (int)browser_.entries().size();
  if (sel >= 0) {
    if (sel < scrollTop_) scrollTop_ = sel;
    if (sel >= scrollTop_ + rows) scrollTop_ = sel - rows + 1;
  }
  scrollTop_ = std::clamp(scrollTop_, 0, std::max(0, count - rows));
}

void FileDialog::refreshPreview() {
  if (!config_.previews || config_.save || !previewMaker_) return;
  const Entry* e = browser_.selectedEntry();
  std::string path = e && !e->isFolder ? browser_.selectedPath() : std::string();
  if (path == previewFor_) return;
  previewFor_ = path;
  hasPreview_ = false;
  if (!path.empty()) hasPreview_ = previewMaker_(path, preview_) && !preview_.empty();
}

std::vector<std::string> FileDialog::chosenPaths() const {
  if (!chosenList_.empty()) return chosenList_;
  if (!chosen_.empty()) return {chosen_};
  return {};
}

bool FileDialog::goToFolder(const std::string& folder) {
  pathMenuOpen_ = false;
  marked_.clear();
  if (!browser_.open(folder)) {
    ++beeps_;
    return false;
  }
  scrollTop_ = 0;
  if (!config_.save) browser_.selectFirst();
  if (config_.save && name() == config_.proposedName) {
    std::string free = proposable(name());
    if (free != name()) {
      name_.setText(free);
      selectNameStem();
    }
  }
  updateButtons();
  refreshPreview();
  return true;
}

// The name less its extension: typing a new name keeps the extension, which tells the file's
// format. A name without one, or a leading dot only (".profile"), is selected whole.
void FileDialog::selectNameStem() {
  const std::string& n = name_.text();
  const size_t dot = n.rfind('.');
  name_.select(0, dot == std::string::npos || dot == 0 ? n.size() : dot);
}

void FileDialog::setName(const std::string& name) {
  name_.setText(name);
  focus_.focus(kNameFocus);
  followTypedExtension();
  updateButtons();
}

namespace {
// Whether `name` ends in ".ext" (any case) after at least one other character.
bool hasExtension(const std::string& name, const std::string& ext) {
  if (ext.empty() || name.size() <= ext.size() + 1 || name[name.size() - ext.size() - 1] != '.')
    return false;
  return std::equal(ext.begin(), ext.end(), name.end() - (long)ext.size(), [](char a, char b) {
    return std::tolower((unsigned char)a) == std::tolower((unsigned char)b);
  });
}
}  // namespace

void FileDialog::followTypedExtension() {
  const std::string n = name();
  for (int i = 0; i < (int)config_.formats.size(); ++i)
    if (hasExtension(n, config_.formats[(size_t)i].extension)) {
      format_ = i;
      return;
    }
}

bool FileDialog::chooseFormat(int index) {
  if (index < 0 || index >= (int)config_.formats.size()) return false;
  std::string n = name();
  // Only a format's own extension is replaced: a dot the user typed stays part of the name.
  for (const auto& f : config_.formats) {
    const std::string ext = "." + f.extension;
    if (!f.extension.empty() && n.size() > ext.size() &&
        n.compare(n.size() - ext.size(), ext.size(), ext) == 0) {
      n.resize(n.size() - ext.size());
      break;
    }
  }
  const std::string& ext = config_.formats[(size_t)index].extension;
  if (!ext.empty()) n += "." + ext;
  n = proposable(n);
  format_ = index;
  if (n != name()) {
    name_.setText(n);
    selectNameStem();
  }
  updateButtons();
  return true;
}

std::string FileDialog::proposable(const std::string& n) const {
  if (!config_.nameInUse || n.empty() || !config_.nameInUse(joinPath(browser_.folder(), n)))
    return n;
  size_t dot = n.rfind('.');
  if (dot == 0 || dot == std::string::npos) dot = n.size();
  for (int k = 2; k < 1000; ++k) {
    std::string c = n.substr(0, dot) + " " + std::to_string(k) + n.substr(dot);
    if (!config_.nameInUse(joinPath(browser_.folder(), c))) return c;
  }
  return n;
}

void FileDialog::focusList() {
  if (config_.save) focus_.focus(kListFocus);
}

void FileDialog::pressCancel() { state_ = DialogState::cancelled; }

void FileDialog::showSheet(const std::string& message, const std::string& detail, bool question) {
  sheet_ = Sheet{};
  sheet_.message = message;
  sheet_.detail = detail;
  sheetIsQuestion_ = question;
  if (question) {
    // Right to left: Replace, then Cancel; Cancel is the default, so a stray Return never
    // overwrites a file.
    sheet_.buttons = {Button::pushButton("Replace"), Button::pushButton("Cancel", true)};
    sheet_.cancelIndex = 1;
  } else {
    sheet_.buttons = {Button::pushButton("OK", true)};
    sheet_.cancelIndex = 0;
  }
  sheet_.active = true;
  sheet_.layout(kWidth);
}

bool FileDialog::answerSheet(bool confirm) {
  if (!sheet_.active) return false;
  sheet_.active = false;
  if (sheetIsQuestion_ && confirm) {
    chosen_ = pendingPath_;
    replacing_ = true;
    state_ = DialogState::accepted;
  }
  pendingPath_.clear();
  return true;
}

bool FileDialog::trySave() {
  std::string n = name();
  if (n.empty() || n == "." || n == ".." || n.find('/') != std::string::npos) {
    ++beeps_;
    return false;
  }
  if (!config_.formats.empty()) {
    const std::string& ext = config_.formats[(size_t)format_].extension;
    if (!ext.empty() && !hasExtension(n, ext) && n.size() + ext.size() + 1 <= kMaxNameBytes) {
      n += "." + ext;
      name_.setText(n);
    }
  }
  std::string path = joinPath(browser_.folder(), n);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      // Replacing a folder would make the caller delete it: never offered.
      showSheet("\xE2\x80\x9C" + n + "\xE2\x80\x9D is a folder.",
                "Choose another name for the file.", false);
      return true;
    }
    if (config_.confirmReplace) {
      pendingPath_ = path;
      showSheet("\xE2\x80\x9C" + n + "\xE2\x80\x9D already exists. Do you want to replace it?",
                "A file with the same name already exists in this folder. Replacing it will "
                "overwrite its current contents.",
                true);
      return true;
    }
    replacing_ = true;
  }
  chosen_ = path;
  state_ = DialogState::accepted;
  return true;
}

bool FileDialog::activateSelection() {
  const Entry* e = browser_.selectedEntry();
  if (!e) {
    ++beeps_;
    return false;
  }
  if (e->isFolder) return goToFolder(joinPath(browser_.folder(), e->name));
  if (config_.save) {
    // A file in the save dialog lends its name.
    setName(e->name);
    return true;
  }
  if (!e->enabled) {
    ++beeps_;
    return false;
  }
  chosen_ = browser_.selectedPath();
  chosenList_.clear();
  if (!marked_.empty()) {
    // Several rows chosen: every file among them, in list order; folders are passed over.
    std::vector<int> rows = marked_;
    rows.push_back(browser_.selected());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int r : rows) {
      const Entry& x = browser_.entries()[r];
      if (!x.isFolder && x.enabled) chosenList_.push_back(joinPath(browser_.folder(), x.name));
    }
  }
  state_ = DialogState::accepted;
  return true;
}

bool FileDialog::pressAction() {
  if (!buttons_[kActionButton].enabled) {
    ++beeps_;
    return false;
  }
  if (config_.save) {
    // With the list in use and a folder chosen, the action opens the folder.
    const Entry* e = browser_.selectedEntry();
    if (listFocused() && e && e->isFolder) return activateSelection();
    return trySave();
  }
  return activateSelection();
}

bool FileDialog::click(int x, int y, uint32_t ticks, bool command, bool shift) {
  if (state_ != DialogState::running) return false;
  if (sheet_.active) {
    int hit = ui::hitButton(sheet_.buttons, x, y);
    if (hit < 0) {
      ++beeps_;
      return false;
    }
    return answerSheet(sheet_.buttons[hit].label == "Replace");
  }
  if (pathMenuOpen_) {
    int item = pathMenu_.itemAt(x, y);
    if (item >= 0) return goToFolder(pathChain_[(size_t)item]) || true;
    pathMenuOpen_ = false;
    return true;
  }
  if (formatMenuOpen_) {
    formatMenuOpen_ = false;
    chooseFormat(formatMenu_.itemAt(x, y));
    return true;
  }
  int hit = ui::hitButton(buttons_, x, y);
  if (hit == kCancelButton) {
    pressCancel();
    return true;
  }
  if (hit == kActionButton) return pressAction() || true;
  if (inRect(pathRect(), x, y)) {
    pathChain_ = folderChain(browser_.folder());
    // A chain deeper than the dialog keeps its nearest folders and the root.
    size_t fit = (size_t)std::max(2, (kHeight - pathRect().bottom) / kPathMenuRow);
    if (pathChain_.size() > fit) {
      std::string root = pathChain_.back();
      pathChain_.resize(fit - 1);
      pathChain_.push_back(root);
    }
    pathMenu_ = ui::PopupMenu{};
    pathMenu_.anchor = pathRect();
    pathMenu_.rowHeight = kPathMenuRow;
    for (const auto& f : pathChain_) pathMenu_.items.push_back(displayName(f));
    pathMenuOpen_ = true;
    return true;
  }
  if (!config_.formats.empty() && inRect(formatRect(), x, y)) {
    formatMenu_ = ui::PopupMenu{};
    for (const auto& f : config_.formats) formatMenu_.items.push_back(f.label);
    formatMenu_.current = format_;
    // The menu is drawn in the dialog and the pop-up sits at its foot: it opens with the
    // chosen format over the button, kept inside the dialog, as a list below would be cut off.
    Rect a = formatRect();
    int rows = (int)formatMenu_.items.size(), rh = formatMenu_.rowHeight;
    int top = std::clamp(a.top - format_ * rh, 0, std::max(0, kHeight - rows * rh));
    formatMenu_.anchor = makeRect(a.left, top - (a.bottom - a.top), a.right, top);
    formatMenuOpen_ = true;
    return true;
  }
  if (config_.save && inRect(nameRect(), x, y)) {
    focus_.focus(kNameFocus);
    name_.press(x - nameRect().left, ticks, shift);
    dragging_ = true;
    return true;
  }
  Rect l = listRect();
  int count = (int)browser_.entries().size();
  if (inRect(l, x, y) && x >= l.right - 8 && count > visibleRows()) {
    // The scroll strip: a page up or down, the selection left alone.
    int h = l.bottom - l.top - 2;
    int barH = std::max(12, h * visibleRows() / count);
    int barTop = l.top + 1 + (h - barH) * scrollTop_ / std::max(1, count - visibleRows());
    int step = y < barTop ? -visibleRows() : (y >= barTop + barH ? visibleRows() : 0);
    scrollTop_ = std::clamp(scrollTop_ + step, 0, count - visibleRows());
    return step != 0;
  }
  if (inRect(l, x, y)) {
    int row = scrollTop_ + (y - l.top - 1) / kRowHeight;
    if (row < 0 || row >= (int)browser_.entries().size()) {
      browser_.select(-1);
      lastClickRow_ = -1;
      updateButtons();
      refreshPreview();
      return true;
    }
    bool multi = config_.multiple && !config_.save && (command || shift);
    bool dbl = !multi && row == lastClickRow_ && ticks - lastClickTick_ <= GetDblTime();
    lastClickRow_ = row;
    lastClickTick_ = ticks;
    if (multi) {
      markRows(row, command);
      focusList();
      updateButtons();
      refreshPreview();
      return true;
    }
    marked_.clear();
    browser_.select(row);
    const Entry* e = browser_.selectedEntry();
    if (config_.save && e && !e->isFolder) setName(e->name);
    focusList();
    updateButtons();
    refreshPreview();
    if (dbl) {
      lastClickRow_ = -1;
      activateSelection();
    }
    return true;
  }
  return false;
}

bool FileDialog::drag(int x, int) {
  if (!dragging_) return false;
  size_t caret = name_.caret(), anchor = name_.anchor();
  name_.dragTo(x - nameRect().left);
  return name_.caret() != caret || name_.anchor() != anchor;
}

Button* FileDialog::buttonAt(int x, int y) {
  if (state_ != DialogState::running) return nullptr;
  std::vector<Button>& list = sheet_.active ? sheet_.buttons : buttons_;
  // A click anywhere closes an open menu.
  if ((pathMenuOpen_ || formatMenuOpen_) && !sheet_.active) return nullptr;
  int hit = ui::hitButton(list, x, y);
  return hit < 0 ? nullptr : &list[(size_t)hit];
}

bool FileDialog::key(const KeyPress& k) {
  char c = k.code;
  bool command = k.command;
  if (state_ != DialogState::running) return false;
  if (sheet_.active) {
    if (c == key::escape || (command && c == '.')) return answerSheet(false);
    if (c == key::ret || c == key::enter) {
      int d = ui::defaultButton(sheet_.buttons);
      return answerSheet(d >= 0 && sheet_.buttons[(size_t)d].label == "Replace");
    }
    ++beeps_;
    return false;
  }
  if (pathMenuOpen_ || formatMenuOpen_) {
    pathMenuOpen_ = formatMenuOpen_ = false;
    return true;
  }
  if (c == key::escape || (command && c == '.')) {
    pressCancel();
    return true;
  }
  if (c == key::ret || c == key::enter) return pressAction() || true;
  bool moved = false;
  if (command && c == key::up) {
    marked_.clear();
    if (!browser_.goUp()) ++beeps_;
    ensureVisible();
    updateButtons();
    refreshPreview();
    return true;
  }
  if (command && (c == key::down || c == 'o' || c == 'O')) {
    const Entry* e = browser_.selectedEntry();
    if (e && e->isFolder) return activateSelection();
    ++beeps_;
    return false;
  }
  bool listKeys = listFocused() || c == key::up || c == key::down;
  if (listKeys) {
    switch (c) {
      case key::up: browser_.moveSelection(-1), moved = true; break;
      case key::down: browser_.moveSelection(1), moved = true; break;
      case key::home: browser_.selectFirst(), moved = true; break;
      case key::end: browser_.selectLast(), moved = true; break;
      case key::pageUp: browser_.moveSelection(-visibleRows()), moved = true; break;
      case key::pageDown: browser_.moveSelection(visibleRows()), moved = true; break;
      case key::right:
        if (listFocused()) {
          const Entry* e = browser_.selectedEntry();
          if (e && e->isFolder) return activateSelection();
          return false;
        }
        break;
      case key::left:
        if (listFocused()) {
          if (!browser_.goUp()) ++beeps_;
          moved = true;
        }
        break;
      default: break;
    }
  }
  if (moved) {
    marked_.clear();
    focusList();
    ensureVisible();
    updateButtons();
    refreshPreview();
    return true;
  }
  if (config_.save && c == key::tab) {
    // Into the name, its stem is selected, so typing replaces it and keeps the extension.
    if (focus_.advance(k.shift) == kNameFocus) selectNameStem();
    return true;
  }
  if (nameFocused()) {
    switch (name_.key(k)) {
      case ui::TextField::Result::ignored: return false;
      case ui::TextField::Result::refused: ++beeps_; break;
      case ui::TextField::Result::handled: followTypedExtension(); break;
    }
    updateButtons();
    return true;
  }
  if (!command && k.text) {
    marked_.clear();
    std::string typed;
    appendUtf8(typed, k.text);
    browser_.typeSelect(typed, k.ticks);
    ensureVisible();
    updateButtons();
    refreshPreview();
    return true;
  }
  return false;
}

void FileDialog::markRows(int row, bool toggle) {
  int sel = browser_.selected();
  if (toggle) {
    auto it = std::find(marked_.begin(), marked_.end(), row);
    if (row == sel) {
      // Unchoosing the selected row hands the selection to another chosen row, if any.
      if (marked_.empty()) {
        browser_.select(-1);
      } else {
        browser_.select(marked_.back());
        marked_.pop_back();
      }
    } else if (it != marked_.end()) {
      marked_.erase(it);
    } else {
      if (sel >= 0) marked_.push_back(sel);
      browser_.select(row);
    }
  } else {
    int anchor = sel >= 0 ? sel : row;
    marked_.clear();
    for (int r = std::min(anchor, row); r <= std::max(anchor, row); ++r)
      if (r != row) marked_.push_back(r);
    browser_.select(row);
  }
  std::sort(marked_.begin(), marked_.end());
}

void FileDialog::drawList(Painter& p) {
  Rect l = listRect();
  p.fill(l, colour::white);
  p.frame(l, colour::border);
  const auto& entries = browser_.entries();
  int rows = visibleRows();
  if (browser_.readError()) {
    p.text(l.left + 8, l.top + 20, "This folder cannot be read.", 12, colour::dim);
  } else if (entries.empty()) {
    p.text(l.left + 8, l.top + 20, "No items", 12, colour::dim);
  }
  for (int i = scrollTop_; i < (int)entries.size() && i < scrollTop_ + rows; ++i) {
    const Entry& e = entries[i];
    Rect r = rowRect(i);
    bool sel =
        i == browser_.selected() || std::find(marked_.begin(), marked_.end(), i) != marked_.end();
    if (sel) p.fill(r, listFocused() ? colour::selection : colour::dim);
    Pixel fg = sel ? colour::selectionText : (e.enabled ? colour::black : colour::dim);
    Rect icon = makeRect(r.left + 6, r.top + 4, r.left + 18, r.top + 14);
    if (e.isFolder) {
      p.fill(icon, sel ? colour::white : colour::folder);
    } else {
      p.frame(icon, fg);
    }
    int textRight = r.right - (e.isFolder ? 20 : 6);
    p.text(r.left + 24, r.top + 13, ui::fitText(p, e.name, textRight - r.left - 24, 12), 12, fg);
    if (e.isFolder) p.text(r.right - 14, r.top + 13, "\xE2\x96\xB8", 12, fg);  // ▸
  }
  // A scroll indicator when not everything fits.
  if ((int)entries.size() > rows) {
    int h = l.bottom - l.top - 2;
    int barH = std::max(12, h * rows / (int)entries.size());
    int barTop = l.top + 1 + (h - barH) * scrollTop_ / std::max(1, (int)entries.size() - rows);
    p.fill(makeRect(l.right - 6, barTop, l.right - 2, barTop + barH), colour::dim);
  }
}

void FileDialog::draw(Painter& p) {
  p.fill(makeRect(0, 0, kWidth, kHeight), colour::background);
  int y = 24;
  if (!config_.clientName.empty() && config_.title.empty()) {
    p.text(16, y, config_.clientName, 12, colour::black, true);
  }
  if (!config_.message.empty()) {
    int x = 16;
    if (!config_.clientName.empty() && config_.title.empty())
      x += p.textWidth(config_.clientName, 12, true) + 12;
    p.text(x, y, ui::fitText(p, config_.message, kWidth - 16 - x, 12), 12, colour::black);
  }
  if (config_.save) {
    p.text(16, nameRect().top + 16, "Save As:", 12, colour::black);
    name_.draw(p, nameRect(), nameFocused());
  }
  Button path;
  path.kind = Button::popup;
  path.rect = pathRect();
  path.label = displayName(browser_.folder());
  path.draw(p);
  drawList(p);
  if (config_.previews && !config_.save) {
    Rect pv = previewRect();
    p.fill(pv, colour::white);
    p.frame(pv, colour::border);
    if (hasPreview_) {
      // Fit the poster inside the box keeping its shape.
      int bw = pv.right - pv.left - 8, bh = pv.bottom - pv.top - 8;
      double s = std::min((double)bw / preview_.width, (double)bh / preview_.height);
      int w = std::max(1, (int)(preview_.width * s)), h = std::max(1, (int)(preview_.height * s));
      int x0 = pv.left + 4 + (bw - w) / 2, y0 = pv.top + 4 + (bh - h) / 2;
      p.image(makeRect(x0, y0, x0 + w, y0 + h), preview_);
    } else {
      p.text(pv.left + 8, pv.top + 20, "No preview", 11, colour::dim);
    }
    if (const Entry* e = browser_.selectedEntry()) {
      int ty = pv.bottom + 16;
      p.text(pv.left, ty, ui::fitText(p, e->name, pv.right - pv.left, 11, true), 11, colour::black,
             true);
      if (!e->isFolder) {
        std::string size = std::to_string((e->size + 1023) / 1024) + " KB";
        p.text(pv.left, ty + 16, size, 11, colour::dim);
      }
    }
  }
  if (!config_.formats.empty() && config_.save) {
    Rect r = formatRect();
    p.text(16, r.top + 16, "Format:", 12, colour::black);
    Button format;
    format.kind = Button::popup;
    format.rect = r;
    format.label = config_.formats[(size_t)format_].label;
    format.draw(p);
  }
  for (const auto& b : buttons_) b.draw(p);
  if (pathMenuOpen_) pathMenu_.draw(p);
  if (formatMenuOpen_) formatMenu_.draw(p);
  if (sheet_.active) sheet_.draw(p, kWidth);
}

}  // namespace vt::nav
