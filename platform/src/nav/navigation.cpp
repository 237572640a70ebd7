// Navigation services on the platform's window server.
#include <AppleEvents.h>
#include <Files.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <Movies.h>
#include <Navigation.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/boundary.h"
#include "core/picture.h"
#include "files/fsspec.h"
#include "files/host_file.h"
#include "nav/automation_state.h"
#include "nav/browser.h"
#include "nav/file_dialog.h"
#include "nav/modal.h"
#include "nav/save_changes.h"
#include "ui/text.h"
#include "ui/widgets/tracking.h"

namespace vt::nav {

// Automation finds the save dialog's name field through this.
bool focusedNameField(WindowRef w, ui::FocusedField& out);

AutomationState& automation() {
  static AutomationState state;
  return state;
}

namespace {

constexpr UInt32 kSecondsFrom1904To1970 = 2082844800u;

std::string pstr(const unsigned char* s) { return s ? ui::pascalToUtf8(s) : std::string(); }

// Poster of a movie or image file, through the movie layer (still images open as one-frame
// movies through their importers).
bool posterOf(const std::string& path, Image& out) {
  FSSpec spec{};
  if (VTMakeFSSpecFromPath(path.c_str(), &spec) != noErr) return false;
  short ref = 0;
  if (OpenMovieFile(&spec, &ref, fsRdPerm) != noErr) return false;
  Movie movie = nullptr;
  short resID = 0;
  OSErr err = NewMovieFromFile(&movie, ref, &resID, nullptr, 0, nullptr);
  CloseMovieFile(ref);
  if (err != noErr || !movie) return false;
  bool ok = false;
  if (PicHandle pic = GetMoviePict(movie, GetMoviePosterTime(movie))) {
    ok = pictureToImage(pic, out);
    KillPicture(pic);
  }
  DisposeMovie(movie);
  return ok;
}

bool typeOf(const std::string& path, OSType& type, OSType& creator) {
  FSSpec spec{};
  if (VTMakeFSSpecFromPath(path.c_str(), &spec) != noErr) return false;
  FInfo info{};
  if (FSpGetFInfo(&spec, &info) != noErr) return false;
  type = info.fdType;
  creator = info.fdCreator;
  return true;
}

void fillInfo(const std::string& path, const Entry& e, NavFileOrFolderInfo& info) {
  std::memset(&info, 0, sizeof info);
  info.version = 0;
  info.isFolder = e.isFolder;
  info.visible = !e.hidden;
  UInt32 stamp = e.modified > 0 ? (UInt32)(e.modified + kSecondsFrom1904To1970) : 0;
  info.creationDate = stamp;
  info.modificationDate = stamp;
  if (e.isFolder) {
    info.fileAndFolder.folderInfo.readable = ::access(path.c_str(), R_OK) == 0;
    info.fileAndFolder.folderInfo.writeable = ::access(path.c_str(), W_OK) == 0;
    info.fileAndFolder.folderInfo.mounted = true;
  } else {
    info.fileAndFolder.fileInfo.locked = ::access(path.c_str(), W_OK) != 0;
    info.fileAndFolder.fileInfo.dataSize = (UInt32)std::min<uint64_t>(e.size, 0xFFFFFFFFu);
    info.fileAndFolder.fileInfo.finderInfo.fdType = e.type;
    info.fileAndFolder.fileInfo.finderInfo.fdCreator = e.creator;
  }
}

std::string startFolder(const AEDesc* defaultLocation) {
  AutomationState& a = automation();
  if (!a.startFolder.empty()) return a.startFolder;
  if (defaultLocation && defaultLocation->dataHandle) {
    FSSpec spec{};
    AEDesc coerced{};
    AEInitializeDesc(&coerced);
    if (AECoerceDesc(defaultLocation, typeFSS, &coerced) == noErr &&
        AEGetDescData(&coerced, &spec, sizeof spec) == noErr) {
      std::string path;
      if (files::specToPath(spec, path) == noErr) {
        AEDisposeDesc(&coerced);
        struct stat st {};
        // A file as the location means its folder.
        if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return folderChain(path)[1];
        return normaliseFolder(path);
      }
    }
    AEDisposeDesc(&coerced);
  }
  if (!a.lastFolder.empty()) return a.lastFolder;
  return normaliseFolder("");
}

void initReply(NavReplyRecord* reply) {
  std::memset(reply, 0, sizeof *reply);
  reply->version = kNavReplyRecordVersion;
  AEInitializeDesc(&reply->selection);
}

// Puts one file into the reply's selection; the reply is valid only when that worked.
OSErr fillReply(NavReplyRecord* reply, const std::vector<std::string>& paths, bool replacing) {
  OSErr err = AECreateList(nullptr, 0, false, &reply->selection);
  if (err != noErr) return err;
  for (const auto& path : paths) {
    FSSpec spec{};
    err = VTMakeFSSpecFromPath(path.c_str(), &spec);
    if (err == fnfErr) err = noErr;  // a new file: the FSSpec is good for making it
    if (err == noErr) err = AEPutPtr(&reply->selection, 0, typeFSS, &spec, sizeof spec);
    if (err != noErr) {
      AEDisposeDesc(&reply->selection);
      return err;
    }
  }
  reply->validRecord = true;
  reply->replacing = replacing;
  reply->keyScript = smRoman;
  return noErr;
}

// The open and save dialogs as modal content.
class FileDialogContent : public ModalContent {
 public:
  FileDialogContent(FileDialogConfig config, Browser& browser, bool save)
      : dialog_(std::move(config), browser), browser_(browser), save_(save) {}

  FileDialog& dialog() { return dialog_; }
  bool abandoned() const { return abandoned_; }

  int width() const override { return FileDialog::kWidth; }
  int height() const override { return FileDialog::kHeight; }
  bool click(int x, int y, uint32_t ticks, EventModifiers m) override {
    return dialog_.click(x, y, ticks, (m & cmdKey) != 0, (m & shiftKey) != 0);
  }
  ui::Button* buttonAt(int x, int y) override { return dialog_.buttonAt(x, y); }
  bool dragging() const override { return dialog_.dragging(); }
  bool drag(int x, int y) override { return dialog_.drag(x, y); }
  void endDrag() override { dialog_.endDrag(); }
  bool key(const ui::KeyPress& k) override { return dialog_.key(k); }
  void draw(ui::Painter& p) override { dialog_.draw(p); }
  bool finished() const override { return abandoned_ || dialog_.state() != DialogState::running; }
  int takeBeeps() override { return dialog_.takeBeeps(); }
  void abandon() override { abandoned_ = true; }

  bool automationTurn() override {
    AutomationState& a = automation();
    if (save_) {
      if (dialog_.sheet().active || a.saves.empty()) return false;
      SaveAnswer ans = a.saves.front();
      a.saves.pop_front();
      if (ans.cancel) {
        dialog_.pressCancel();
        return true;
      }
      if (!ans.folder.empty() && normaliseFolder(ans.folder) != browser_.folder() &&
          !dialog_.goToFolder(ans.folder)) {
        a.lastError = "cannot open folder " + ans.folder;
        dialog_.pressCancel();
        return true;
      }
      if (ans.format >= 0 && !dialog_.chooseFormat(ans.format)) {
        a.lastError = "no format " + std::to_string(ans.format);
        dialog_.pressCancel();
        return true;
      }
      if (ans.format < 0 || !ans.name.empty()) dialog_.setName(ans.name);
      dialog_.pressAction();
      if (dialog_.sheet().active) {
        bool replaceQuestion = dialog_.sheet().buttons.size() > 1;
        dialog_.answerSheet(ans.confirmReplace && replaceQuestion);
        if (!replaceQuestion) a.lastError = dialog_.sheet().message;
        // Declined or refused: the next queued answer, or give up.
        if (dialog_.state() == DialogState::running && a.saves.empty()) dialog_.pressCancel();
      } else if (dialog_.state() == DialogState::running) {
        a.lastError = "the name \"" + ans.name + "\" was refused";
        dialog_.pressCancel();
      }
      return true;
    }
    if (a.opens.empty()) return false;
    OpenAnswer ans = a.opens.front();
    a.opens.pop_front();
    if (ans.cancel) {
      dialog_.pressCancel();
      return true;
    }
    std::string full = normaliseFolder(ans.path);
    std::string folder = folderChain(full).size() > 1 ? folderChain(full)[1] : "/";
    bool there = browser_.folder() == folder || dialog_.goToFolder(folder);
    if (!there || !browser_.selectByName(displayName(full))) {
      a.lastError = "not listed: " + full;
      dialog_.pressCancel();
      return true;
    }
    if (!dialog_.pressAction() || dialog_.state() != DialogState::accepted) {
      a.lastError = "not a file that can be chosen: " + full;
      dialog_.pressCancel();
    }
    return true;
  }

  void describe(VTNavDialogInfo& info) const override {
    const FileDialogConfig& c = dialog_.config();
    info.kind = save_ ? VTNavDialogKind::save : VTNavDialogKind::open;
    info.clientName = c.clientName;
    info.message = c.message;
    info.proposedName = c.proposedName;
    info.name = dialog_.name();
    info.selectedName = dialog_.selectedName();
    info.folder = browser_.folder();
    info.items.clear();
    info.itemIsFolder.clear();
    info.itemEnabled.clear();
    for (const auto& e : browser_.entries()) {
      info.items.push_back(e.name);
      info.itemIsFolder.push_back(e.isFolder);
      info.itemEnabled.push_back(e.enabled);
    }
    info.selectedItem = browser_.selected();
    info.previewShown = dialog_.previewShown();
    info.filterCalls = (long)browser_.filterCalls();
    info.sheetMessage = dialog_.sheet().active ? dialog_.sheet().message : std::string();
    info.pathMenu = dialog_.pathMenuOpen() ? dialog_.pathMenuItems() : std::vector<std::string>();
    info.formats.clear();
    for (const auto& f : c.formats) info.formats.push_back(f.label);
    info.format = dialog_.format();
    info.buttons.clear();
    for (const auto& b : dialog_.buttons()) info.buttons.push_back(b.label);
    if (dialog_.sheet().active)
      for (const auto& b : dialog_.sheet().buttons) info.buttons.push_back(b.label);
  }

  bool buttonRect(const std::string& label, Rect& r) const override {
    const auto& list = dialog_.sheet().active ? dialog_.sheet().buttons : dialog_.buttons();
    for (const auto& b : list)
      if (b.label == label) {
        r = b.rect;
        return true;
      }
    return false;
  }
  bool itemRect(const std::string& name, Rect& r) const override {
    const auto& entries = browser_.entries();
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].name != name) continue;
      Rect row = dialog_.rowRect((int)i);
      Rect list = dialog_.listRect();
      if (row.top < list.top || row.bottom > list.bottom) return false;  // scrolled away
      r = row;
      return true;
    }
    return false;
  }
  bool nameFieldRect(Rect& r) const override {
    if (!save_) return false;
    r = dialog_.nameRect();
    return true;
  }
  bool pathMenuRect(Rect& r) const override {
    r = dialog_.pathRect();
    return true;
  }
  bool pathMenuItemRect(int index, Rect& r) const override {
    if (!dialog_.pathMenuOpen() || index < 0 || index >= (int)dialog_.pathMenuItems().size())
      return false;
    r = dialog_.pathMenuItemRect(index);
    return true;
  }

 private:
  FileDialog dialog_;
  Browser& browser_;
  bool save_;
  bool abandoned_ = false;
};

class SaveChangesContent : public ModalContent {
 public:
  SaveChangesContent(std::string client, std::string doc, NavAskSaveChangesAction action)
      : dialog_(std::move(client), std::move(doc), action) {}
  SaveChangesDialog& dialog() { return dialog_; }

  int width() const override { return SaveChangesDialog::kWidth; }
  int height() const override { return SaveChangesDialog::kHeight; }
  bool click(int x, int y, uint32_t, EventModifiers) override { return dialog_.click(x, y); }
  ui::Button* buttonAt(int x, int y) override {
    int hit = ui::hitButton(dialog_.buttons(), x, y);
    return hit < 0 || dialog_.done() ? nullptr : &dialog_.buttons()[(size_t)hit];
  }
  bool key(const ui::KeyPress& k) override { return dialog_.key(k.code, k.command); }
  void draw(ui::Painter& p) override { dialog_.draw(p); }
  bool finished() const override { return dialog_.done(); }
  // Giving up must never lose the document: it counts as Cancel.
  void abandon() override { dialog_.answerWith(kNavAskSaveChangesCancel); }
  bool automationTurn() override {
    AutomationState& a = automation();
    if (a.saveChanges.empty()) return false;
    NavAskSaveChangesResult r = a.saveChanges.front();
    a.saveChanges.pop_front();
    if (r != kNavAskSaveChangesSave && r != kNavAskSaveChangesDontSave)
      r = kNavAskSaveChangesCancel;
    dialog_.answerWith(r);
    return true;
  }
  void describe(VTNavDialogInfo& info) const override {
    info.kind = VTNavDialogKind::saveChanges;
    info.clientName = dialog_.clientName();
    info.message = dialog_.message();
    info.buttons.clear();
    for (const auto& b : dialog_.buttons()) info.buttons.push_back(b.label);
  }
  bool buttonRect(const std::string& label, Rect& r) const override {
    for (const auto& b : dialog_.buttons())
      if (b.label == label) {
        r = b.rect;
        return true;
      }
    return false;
  }

 private:
  SaveChangesDialog dialog_;
};

std::string windowTitleFor(const NavDialogOptions& o, const char* fallback) {
  std::string t = pstr(o.windowTitle);
  return t.empty() ? std::string(fallback) : t;
}

// Records what the dialog showed once it is over.
void finish(ModalContent& content, const std::string& title, const ModalStats& stats,
            OSErr result) {
  AutomationState& a = automation();
  VTNavDialogInfo info;
  content.describe(info);
  info.windowTitle = title;
  info.window = nullptr;
  info.updatesPassed = stats.updatesPassed;
  info.nullsPassed = stats.nullsPassed;
  info.turns = stats.turns;
  info.result = result;
  a.lastShown = info;
}

FileDialogConfig configFrom(const NavDialogOptions& o, bool save) {
  FileDialogConfig c;
  c.save = save;
  c.previews = !save && (o.dialogOptionFlags & kNavAllowPreviews) != 0;
  c.multiple = !save && (o.dialogOptionFlags & kNavAllowMultipleFiles) != 0;
  c.confirmReplace = (o.dialogOptionFlags & kNavDontConfirmReplacement) == 0;
  c.title = pstr(o.windowTitle);
  c.clientName = pstr(o.clientName);
  c.message = pstr(o.message);
  c.actionLabel = pstr(o.actionButtonLabel);
  c.cancelLabel = pstr(o.cancelButtonLabel);
  if (save) c.proposedName = pstr(o.savedFileName);
  return c;
}

}  // namespace

}  // namespace vt::nav

using namespace vt::nav;

NavEventUPP NewNavEventUPP(NavEventProcPtr userRoutine) { return userRoutine; }
// A callback reference is the function itself: nothing to release.
void DisposeNavEventUPP(NavEventUPP) {}
NavObjectFilterUPP NewNavObjectFilterUPP(NavObjectFilterProcPtr userRoutine) { return userRoutine; }
void DisposeNavObjectFilterUPP(NavObjectFilterUPP) {}  // nothing to release, as above
NavPreviewUPP NewNavPreviewUPP(NavPreviewProcPtr userRoutine) { return userRoutine; }
void DisposeNavPreviewUPP(NavPreviewUPP) {}  // nothing to release, as above

OSErr NavGetDefaultDialogOptions(NavDialogOptions* o) {
  return vt::apiStatus([&]() -> OSErr {
    if (!o) return paramErr;
    std::memset(o, 0, sizeof *o);
    o->version = kNavDialogOptionsVersion;
    o->dialogOptionFlags = kNavDefaultNavDlogOptions;
    o->location.h = -1;
    o->location.v = -1;
    return noErr;
  });
}

OSErr NavDisposeReply(NavReplyRecord* reply) {
  return vt::apiStatus([&]() -> OSErr {
    if (!reply) return paramErr;
    if (reply->selection.dataHandle) AEDisposeDesc(&reply->selection);
    reply->selection.descriptorType = typeNull;
    reply->selection.dataHandle = nullptr;
    reply->validRecord = false;
    return noErr;
  });
}

namespace {

OSErr getFile(AEDesc* defaultLocation, NavReplyRecord* reply, NavDialogOptions* dialogOptions,
              NavEventUPP eventProc, NavPreviewUPP previewProc, NavObjectFilterUPP filterProc,
              NavTypeListHandle typeList, void* callBackUD) {
  // The dialog draws its own previews; a caller's preview callback is not consulted.
  (void)previewProc;
  if (!reply) return paramErr;
  initReply(reply);
  NavDialogOptions defaults;
  NavGetDefaultDialogOptions(&defaults);
  const NavDialogOptions& o = dialogOptions ? *dialogOptions : defaults;

  std::vector<OSType> types;
  if (typeList && VTIsValidHandle((Handle)typeList) && *typeList) {
    Size size = GetHandleSize((Handle)typeList);
    const Size header = (Size)offsetof(NavTypeList, osType);
    if (size >= header) {
      // Never read past the block, whatever the count claims.
      long count = std::max<short>(0, (*typeList)->osTypeCount);
      count = std::min<long>(count, (size - header) / (Size)sizeof(OSType));
      types.assign((*typeList)->osType, (*typeList)->osType + count);
    }
  }

  Browser browser;
  browser.setShowHidden((o.dialogOptionFlags & kNavAllowInvisibleFiles) != 0);
  if (filterProc || !types.empty()) browser.setTyper(typeOf);
  browser.setFilter([&](const std::string& folder, const Entry& e) {
    if (!e.isFolder && !types.empty() &&
        std::find(types.begin(), types.end(), e.type) == types.end())
      return false;
    if (!filterProc) return true;
    std::string path = joinPath(folder, e.name);
    FSSpec spec{};
    VTMakeFSSpecFromPath(path.c_str(), &spec);
    AEDesc item;
    AEInitializeDesc(&item);
    if (AECreateDesc(typeFSS, &spec, sizeof spec, &item) != noErr) return true;
    NavFileOrFolderInfo info;
    fillInfo(path, e, info);
    Boolean show = filterProc(&item, &info, callBackUD, kNavFilteringBrowserList);
    AEDisposeDesc(&item);
    return show != 0;
  });

  FileDialogConfig config = configFrom(o, false);
  std::string title = windowTitleFor(o, "Open");
  FileDialogContent content(config, browser, false);
  content.dialog().setPreviewMaker(posterOf);
  if (!content.dialog().goToFolder(startFolder(defaultLocation)) &&
      !content.dialog().goToFolder(normaliseFolder("")))
    content.dialog().goToFolder("/");

  AutomationState& a = automation();
  ++a.dialogCount;
  ModalStats stats;
  OSErr err = runModal(content, title, o.location, eventProc, callBackUD, stats);
  if (!browser.folder().empty()) a.lastFolder = browser.folder();
  if (err == noErr) {
    if (content.dialog().state() == DialogState::accepted)
      err = fillReply(reply, content.dialog().chosenPaths(), false);
    else
      err = userCanceledErr;
  }
  finish(content, title, stats, err);
  return err;
}

// The caller creates the file with its own type and creator; the dialog only names it.
OSErr putFile(AEDesc* defaultLocation, NavReplyRecord* reply, NavDialogOptions* dialogOptions,
              NavEventUPP eventProc, void* callBackUD,
              const std::vector<FileDialogConfig::Format>& formats = {}, short* format = nullptr) {
  if (!reply) return paramErr;
  initReply(reply);
  NavDialogOptions defaults;
  NavGetDefaultDialogOptions(&defaults);
  const NavDialogOptions& o = dialogOptions ? *dialogOptions : defaults;

  Browser browser;
  browser.setShowHidden((o.dialogOptionFlags & kNavAllowInvisibleFiles) != 0);
  browser.setFilesDisabled(true);

  FileDialogConfig config = configFrom(o, true);
  config.formats = formats;
  if (format) config.format = *format;
  config.nameInUse = [](const std::string& path) { return vt::files::isBusy(path); };
  std::string title = windowTitleFor(o, "Save");
  vt::ui::addFieldFinder(focusedNameField);
  FileDialogContent content(config, browser, true);
  if (!content.dialog().goToFolder(startFolder(defaultLocation)) &&
      !content.dialog().goToFolder(normaliseFolder("")))
    content.dialog().goToFolder("/");

  AutomationState& a = automation();
  ++a.dialogCount;
  ModalStats stats;
  OSErr err = runModal(content, title, o.location, eventProc, callBackUD, stats);
  if (!browser.folder().empty()) a.lastFolder = browser.folder();
  if (err == noErr) {
    if (content.dialog().state() == DialogState::accepted) {
      err = fillReply(reply, {content.dialog().chosenPath()}, content.dialog().replacing());
      if (format) *format = (short)content.dialog().format();
    } else
      err = userCanceledErr;
  }
  finish(content, title, stats, err);
  return err;
}

OSErr askSaveChanges(NavDialogOptions* dialogOptions, NavAskSaveChangesAction action,
                     NavAskSaveChangesResult* reply, NavEventUPP eventProc, void* callBackUD) {
  if (!dialogOptions || !reply) return paramErr;
  std::string client = pstr(dialogOptions->clientName);
  std::string title = pstr(dialogOptions->windowTitle);
  if (title.empty()) title = client.empty() ? std::string("Save Changes") : client;
  SaveChangesContent content(client, pstr(dialogOptions->savedFileName), action);
  AutomationState& a = automation();
  ++a.dialogCount;
  ModalStats stats;
  OSErr err = runModal(content, title, dialogOptions->location, eventProc, callBackUD, stats);
  // A dialog that could not run answers Cancel, so nothing is lost.
  *reply =
      err == noErr ? content.dialog().answer() : (NavAskSaveChangesResult)kNavAskSaveChangesCancel;
  finish(content, title, stats, err);
  return err;
}

// A dialog call that fills a reply: a throw puts the reply back in its cancelled state (`undo`)
// and the thrown code is returned.
template <class Undo, class Body>
OSErr statusUndoing(Undo&& undo, Body&& body) noexcept {
  std::optional<OSErr> thrown;
  OSErr err = vt::apiCall<OSErr>([&](OSErr e) { thrown = e; }, noErr, body);
  if (!thrown) return err;
  vt::apiCall(vt::noErrorState, undo);
  return *thrown;
}

}  // namespace

// A failure inside a dialog leaves the reply invalid (and a save-changes question answered
// Cancel).
OSErr NavGetFile(AEDesc* defaultLocation, NavReplyRecord* reply, NavDialogOptions* dialogOptions,
                 NavEventUPP eventProc, NavPreviewUPP previewProc, NavObjectFilterUPP filterProc,
                 NavTypeListHandle typeList, void* callBackUD) {
  return statusUndoing(
      [&] {
        if (reply) NavDisposeReply(reply);
      },
      [&]() -> OSErr {
        return getFile(defaultLocation, reply, dialogOptions, eventProc, previewProc, filterProc,
                       typeList, callBackUD);
      });
}

OSErr NavPutFile(AEDesc* defaultLocation, NavReplyRecord* reply, NavDialogOptions* dialogOptions,
                 NavEventUPP eventProc, OSType fileType, OSType fileCreator, void* callBackUD) {
  return statusUndoing(
      [&] {
        if (reply) NavDisposeReply(reply);
      },
      [&]() -> OSErr {
        (void)fileType;
        (void)fileCreator;
        return putFile(defaultLocation, reply, dialogOptions, eventProc, callBackUD);
      });
}

OSErr VTNavPutFileWithFormats(AEDesc* defaultLocation, NavReplyRecord* reply,
                              NavDialogOptions* dialogOptions, NavEventUPP eventProc,
                              const VTNavSaveFormat* formats, short formatCount, short* format,
                              OSType fileCreator, void* callBackUD) {
  return statusUndoing(
      [&] {
        if (reply) NavDisposeReply(reply);
      },
      [&]() -> OSErr {
        (void)fileCreator;
        if (!formats || formatCount <= 0 || !format || *format < 0 || *format >= formatCount)
          return paramErr;
        std::vector<FileDialogConfig::Format> list;
        for (short i = 0; i < formatCount; i++)
          list.push_back({pstr(formats[i].label), pstr(formats[i].extension)});
        return putFile(defaultLocation, reply, dialogOptions, eventProc, callBackUD, list, format);
      });
}

OSErr NavAskSaveChanges(NavDialogOptions* dialogOptions, NavAskSaveChangesAction action,
                        NavAskSaveChangesResult* reply, NavEventUPP eventProc, void* callBackUD) {
  return statusUndoing(
      [&] {
        if (reply) *reply = kNavAskSaveChangesCancel;
      },
      [&]() -> OSErr {
        return askSaveChanges(dialogOptions, action, reply, eventProc, callBackUD);
      });
}

// Geometry helpers for automation live here because they need the running content's type.
namespace vt::nav {
namespace {
Rect toGlobal(WindowRef w, const Rect& local) {
  Rect c{};
  GetWindowBounds(w, kWindowContentRgn, &c);
  return ui::makeRect(local.left + c.left, local.top + c.top, local.right + c.left,
                      local.bottom + c.top);
}
}  // namespace

bool focusedNameField(WindowRef w, ui::FocusedField& out) {
  const RunningDialog* d = currentDialog();
  auto* files = d && d->window == w ? dynamic_cast<FileDialogContent*>(d->content) : nullptr;
  if (!files || !files->dialog().nameFocused()) return false;
  out.field = &files->dialog().nameField();
  out.box = files->dialog().nameRect();
  return true;
}

bool locateInCurrent(int what, const std::string& label, int index, Rect* global) {
  const RunningDialog* d = currentDialog();
  if (!d || !global) return false;
  Rect r{};
  bool ok = false;
  switch (what) {
    case 0: ok = d->content->buttonRect(label, r); break;
    case 1: ok = d->content->itemRect(label, r); break;
    case 2: ok = d->content->nameFieldRect(r); break;
    case 3: ok = d->content->pathMenuRect(r); break;
    case 4: ok = d->content->pathMenuItemRect(index, r); break;
    default: break;
  }
  if (ok) *global = toGlobal(d->window, r);
  return ok;
}

}  // namespace vt::nav
