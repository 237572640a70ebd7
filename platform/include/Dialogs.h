// Dialog manager: modal and modeless dialogs and alerts built from the resource file.
//
// A dialog is a window of kind dialogKind (2) carrying a list of items. Its items are drawn by
// the platform: buttons (the default one outlined), static texts (with ^0..^3 replaced by the
// ParamText strings), edit texts, and user items, whose handle is the procedure that draws them.
#pragma once
#include "MacTypes.h"
#include "Events.h"
#include "MacWindows.h"
#include "Quickdraw.h"

struct VTDialog;
typedef VTDialog* DialogPtr;
typedef DialogPtr DialogRef;
typedef SInt16 DialogItemIndex;
typedef SInt16 DialogItemType;
typedef SInt16 DialogItemIndexZeroBased;

// Item kinds (GetDialogItem).
enum {
  userItem = 0,
  ctrlItem = 4,
  btnCtrl = 0,
  chkCtrl = 1,
  radCtrl = 2,
  resCtrl = 3,
  helpItem = 1,
  statText = 8,
  editText = 16,
  iconItem = 32,
  picItem = 64,
  itemDisable = 128
};
enum {
  kButtonDialogItem = ctrlItem + btnCtrl,
  kCheckBoxDialogItem = ctrlItem + chkCtrl,
  kRadioButtonDialogItem = ctrlItem + radCtrl,
  kStaticTextDialogItem = statText,
  kEditTextDialogItem = editText,
  kIconDialogItem = iconItem,
  kPictureDialogItem = picItem,
  kUserDialogItem = userItem,
  kItemDisableBit = itemDisable
};
enum { ok = 1, cancel = 2, kStdOkItemIndex = 1, kStdCancelItemIndex = 2 };
enum { kAlertStopAlert = 0, kAlertNoteAlert = 1, kAlertCautionAlert = 2, kAlertPlainAlert = 3 };

// Callbacks. The callback references are the procedures themselves; the New/Dispose calls exist
// so code written for the toolbox keeps its shape.
typedef Boolean (*ModalFilterProcPtr)(DialogRef theDialog, EventRecord* theEvent,
                                      DialogItemIndex* itemHit);
typedef ModalFilterProcPtr ModalFilterUPP;
typedef void (*UserItemProcPtr)(DialogRef theDialog, DialogItemIndex itemNo);
typedef UserItemProcPtr UserItemUPP;

ModalFilterUPP NewModalFilterUPP(ModalFilterProcPtr userRoutine);
void DisposeModalFilterUPP(ModalFilterUPP userUPP);
Boolean InvokeModalFilterUPP(DialogRef theDialog, EventRecord* theEvent, DialogItemIndex* itemHit,
                             ModalFilterUPP userUPP);
UserItemUPP NewUserItemUPP(UserItemProcPtr userRoutine);
void DisposeUserItemUPP(UserItemUPP userUPP);
void InvokeUserItemUPP(DialogRef theDialog, DialogItemIndex itemNo, UserItemUPP userUPP);

// Making and removing dialogs.
// DLOG resource dialogID with its items; dStorage must be null (the platform allocates);
// behind is (WindowRef)-1 for in front of all windows, null for behind all. Null when the
// resource is missing or malformed.
DialogRef GetNewDialog(short dialogID, void* dStorage, WindowRef behind);
void DisposeDialog(DialogRef theDialog);
WindowRef GetDialogWindow(DialogRef dialog);
CGrafPtr GetDialogPort(DialogRef dialog);
void SetPortDialogPort(DialogRef dialog);
// The dialog whose window this is, or null.
DialogRef GetDialogFromWindow(WindowRef window);
void SetDialogDefaultItem(DialogRef theDialog, DialogItemIndex newItem);
void SetDialogCancelItem(DialogRef theDialog, DialogItemIndex newItem);
DialogItemIndex GetDialogDefaultItem(DialogRef theDialog);
DialogItemIndex GetDialogCancelItem(DialogRef theDialog);

// Items.
DialogItemIndex CountDITL(DialogRef theDialog);
// An item's kind (with itemDisable when it is disabled), handle and rectangle (local to the
// dialog's port). The handle of a text or button item holds its text (Get/SetDialogItemText);
// that of a user item is its drawing procedure.
void GetDialogItem(DialogRef theDialog, DialogItemIndex itemNo, DialogItemType* itemType,
                   Handle* item, Rect* box);
void SetDialogItem(DialogRef theDialog, DialogItemIndex itemNo, DialogItemType itemType,
                   Handle item, const Rect* box);
void GetDialogItemText(Handle item, Str255 text);
void SetDialogItemText(Handle item, ConstStr255Param text);
void HideDialogItem(DialogRef theDialog, DialogItemIndex itemNo);
void ShowDialogItem(DialogRef theDialog, DialogItemIndex itemNo);
void SelectDialogItemText(DialogRef theDialog, DialogItemIndex itemNo, SInt16 strtSel,
                          SInt16 endSel);
// The enabled item at a point local to the dialog's port, or -1 (the toolbox answers 0-based).
DialogItemIndexZeroBased FindDialogItem(DialogRef theDialog, Point thePt);
void DrawDialog(DialogRef theDialog);
void UpdateDialog(DialogRef theDialog, RgnHandle updateRgn);

// Running dialogs.
// Runs the front dialog until an enabled item is hit. Every event goes to the filter first
// (the standard filter when filterProc is null); a true answer ends the call with the item the
// filter stored. Calls the modal hook every turn.
void ModalDialog(ModalFilterUPP filterProc, DialogItemIndex* itemHit);
// Return and Enter choose the default item, Escape and Ctrl+. the cancel item (when set and
// enabled); true when it handled the event, with the item stored through itemHit.
Boolean StdFilterProc(DialogRef theDialog, EventRecord* event, DialogItemIndex* itemHit);
OSErr GetStdFilterProc(ModalFilterUPP* theProc);
// Modeless use: whether the event belongs to a dialog, and handling it.
Boolean IsDialogEvent(const EventRecord* theEvent);
Boolean DialogSelect(const EventRecord* theEvent, DialogRef* theDialog, DialogItemIndex* itemHit);

// The four replacement strings for ^0..^3 in static texts; null leaves that one empty.
void ParamText(ConstStr255Param param0, ConstStr255Param param1, ConstStr255Param param2,
               ConstStr255Param param3);

// Alerts from ALRT resources: shown in front, run like ModalDialog with the filter, removed;
// the result is the item hit, or -1 when the alert cannot be shown.
DialogItemIndex Alert(SInt16 alertID, ModalFilterUPP modalFilter);
DialogItemIndex StopAlert(SInt16 alertID, ModalFilterUPP modalFilter);
DialogItemIndex NoteAlert(SInt16 alertID, ModalFilterUPP modalFilter);
DialogItemIndex CautionAlert(SInt16 alertID, ModalFilterUPP modalFilter);
