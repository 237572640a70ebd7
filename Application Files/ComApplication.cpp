// The application hooks: what this application adds to the generic framework at its fixed
// points, and the handlers of the four required Apple events.
#include "ComApplication.h"

#include <stdio.h>

#include "ComResource.h"
#include "MacFramework.h"
#include "QTUtilities.h"
#include "Vantrel.h"

AEEventHandlerUPP gHandleOpenAppAEUPP = NULL;
AEEventHandlerUPP gHandleOpenDocAEUPP = NULL;
AEEventHandlerUPP gHandlePrintDocAEUPP = NULL;
AEEventHandlerUPP gHandleQuitAppAEUPP = NULL;
short gExportFormat = 0;

namespace {

// An open-documents event hands at most this many files to the effect maker.
const UInt16 kMaxSourceFiles = 2;

void SetArrowCursor() {
  Cursor myArrow;
  SetCursor(GetQDGlobalsArrow(&myArrow));
}

// The proposed export name's stem leaves room for ".mp4" in a file name's 63 bytes.
const int kMaxExportStemBytes = 63 - 4;

// The export formats the save dialog offers, the first proposed.
struct ExportFormat {
  const char* label;
  const char* shortLabel;  // beside a size "as shown", so the pop-up shows it whole
  const char* extension;   // "" for a folder
  OSType fileType;
};
const ExportFormat kExportFormats[] = {
    {"MPEG-4 (H.264, AAC)", "MPEG-4", "mp4", kQTFileTypeMP4},
    {"QuickTime (ProRes 422)", "ProRes 422", "mov", kQTFileTypeMovie},
    {"PNG image sequence", "PNG images", "", kQTFileTypePNG},
};
const short kExportFormatCount = (short)(sizeof(kExportFormats) / sizeof(kExportFormats[0]));

// The save dialog with the export's Format pop-up, each format at the movie's own size and,
// when a window shows it at another, at that size too; the chosen format's file type goes into
// *theFileType and whether it is the size shown into *theAsShown. False when the user
// cancelled.
Boolean PutExportFile(ConstStr255Param thePrompt, ConstStr255Param theFileName,
                      const Rect* theOwnSize, const Rect* theShownSize, FSSpecPtr theFSSpecPtr,
                      OSType* theFileType, Boolean* theAsShown) {
  const Boolean mySizesDiffer =
      theShownSize->right - theShownSize->left != theOwnSize->right - theOwnSize->left ||
      theShownSize->bottom - theShownSize->top != theOwnSize->bottom - theOwnSize->top;
  const short myCount = mySizesDiffer ? 2 * kExportFormatCount : kExportFormatCount;
  VTNavSaveFormat myFormats[2 * kExportFormatCount];
  for (short i = 0; i < myCount; i++) {
    const ExportFormat& myFormat = kExportFormats[i % kExportFormatCount];
    const Rect* mySize = i < kExportFormatCount ? theOwnSize : theShownSize;
    char myLabel[64];
    snprintf(myLabel, sizeof(myLabel), "%s, %d \xC3\x97 %d%s",
             i < kExportFormatCount ? myFormat.label : myFormat.shortLabel,
             mySize->right - mySize->left, mySize->bottom - mySize->top,
             i < kExportFormatCount ? "" : " as shown");
    Str255 myText;
    CopyCStringToPascal(myLabel, myText);
    BlockMoveData(myText, myFormats[i].label, myText[0] + 1);
    CopyCStringToPascal(myFormat.extension, myText);
    BlockMoveData(myText, myFormats[i].extension, myText[0] + 1);
  }
  NavDialogOptions myDialogOptions;
  NavGetDefaultDialogOptions(&myDialogOptions);
  myDialogOptions.dialogOptionFlags |= kNavNoTypePopup | kNavDontAutoTranslate;
  BlockMoveData(theFileName, myDialogOptions.savedFileName, theFileName[0] + 1);
  BlockMoveData(gAppName, myDialogOptions.clientName, gAppName[0] + 1);
  BlockMoveData(thePrompt, myDialogOptions.message, thePrompt[0] + 1);

  QTFrame_ActivateController(QTFrame_GetFrontMovieWindow(), false);
  NavEventUPP myEventUPP = NewNavEventUPP(QTFrame_HandleNavEvent);
  NavReplyRecord myReply;
  BlockZero(&myReply, sizeof(myReply));
  short myFormat = gExportFormat;
  OSErr myErr = VTNavPutFileWithFormats(NULL, &myReply, &myDialogOptions, myEventUPP, myFormats,
                                        myCount, &myFormat, sigMoviePlayer, NULL);
  Boolean mySelected = false;
  if (myErr == noErr && myReply.validRecord) {
    AEKeyword myKeyword;
    DescType myActualType;
    Size myActualSize = 0;
    mySelected = AEGetNthPtr(&myReply.selection, 1, typeFSS, &myKeyword, &myActualType,
                             theFSSpecPtr, sizeof(FSSpec), &myActualSize) == noErr;
    *theFileType = kExportFormats[myFormat % kExportFormatCount].fileType;
    *theAsShown = myFormat >= kExportFormatCount;
    gExportFormat = (short)(myFormat % kExportFormatCount);
    NavDisposeReply(&myReply);
  }
  DisposeNavEventUPP(myEventUPP);
  return mySelected;
}

// Writes the front movie as a standard file; the movie and its window stay as they are.
void ExportMovie(WindowReference theWindow) {
  WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
  if (myWindowObject == NULL || (**myWindowObject).fMovie == NULL) return;
  Movie myMovie = (**myWindowObject).fMovie;

  // The proposed name: the window's, with the first format's extension, within a file name's
  // 63 bytes. A cut goes between characters: never through one of a UTF-8 name.
  Str255 myTitle;
  GetWTitle(QTFrame_GetWindowFromWindowReference(theWindow), myTitle);
  int myLength = myTitle[0];
  for (int i = myLength; i > 0; i--)
    if (myTitle[i] == '.') {
      myLength = i - 1;
      break;
    }
  if (myLength > kMaxExportStemBytes) {
    myLength = kMaxExportStemBytes;
    while (myLength > 0 && (myTitle[myLength + 1] & 0xC0) == 0x80) myLength--;
  }
  Str255 myFileName;
  memcpy(myFileName + 1, myTitle + 1, (size_t)myLength);
  memcpy(myFileName + 1 + myLength, ".mp4", 4);
  myFileName[0] = (unsigned char)(myLength + 4);
  Str255 myPrompt;
  CopyCStringToPascal("Export Movie As:", myPrompt);

  // The movie's own size, and the size its window shows it at.
  Rect myOwnSize, myShownSize;
  GetMovieNaturalBoundsRect(myMovie, &myOwnSize);
  GetMovieBox(myMovie, &myShownSize);
  if (EmptyRect(&myOwnSize)) myOwnSize = myShownSize;

  FSSpec myFile;
  OSType myFileType = kQTFileTypeMP4;
  Boolean myAsShown = false;
  if (!PutExportFile(myPrompt, myFileName, &myOwnSize, &myShownSize, &myFile, &myFileType,
                     &myAsShown))
    return;

  // The platform's progress window, as the movie's other long work (Save As) shows it.
  SetMovieProgressProc(myMovie, (MovieProgressUPP)-1, 0);
  OSErr myErr = ConvertMovieToFile(
      myMovie, NULL, &myFile, myFileType, sigMoviePlayer, smSystemScript, NULL,
      createMovieFileDeleteCurFile | (myAsShown ? vtExportAtMovieBoxSize : 0), NULL);

  const char* myText = NULL;
  switch (myErr) {
    case noErr:
    case userCanceledErr: break;
    case dskFulErr: myText = "The movie was not exported: the disk is full."; break;
    case wrPermErr: myText = "The movie was not exported: writing there is not permitted."; break;
    case dupFNErr: myText = "The movie was not exported: a folder of that name holds files."; break;
    default: myText = "The movie could not be exported."; break;
  }
  if (myText != NULL) {
    StringPtr myMessage = QTUtils_ConvertCToPascalString((char*)myText);
    if (myMessage != NULL) {
      QTFrame_ShowWarning(myMessage, myErr);
      free(myMessage);
    }
  }
}

}  // namespace

//////////
// Start and stop
//////////

void QTApp_Init(UInt32 theStartPhase) {
  if (theStartPhase & kInitAppPhase_BeforeCreateFrameWindow) {
    // Without video effects this application has nothing to offer: leave quietly.
    if (!QTUtils_HasQuickTimeVideoEffects()) QTFrame_QuitFramework();
    QTApp_InstallAppleEventHandlers();
  }
  // There is no frame window on this platform: the second phase needs no work.
}

void QTApp_Stop(UInt32 theStopPhase) {
  // Nothing to do before the windows are closed.
  if (theStopPhase & kStopAppPhase_AfterDestroyWindows) {
    if (gHandleOpenAppAEUPP != NULL) DisposeAEEventHandlerUPP(gHandleOpenAppAEUPP);
    if (gHandleOpenDocAEUPP != NULL) DisposeAEEventHandlerUPP(gHandleOpenDocAEUPP);
    if (gHandlePrintDocAEUPP != NULL) DisposeAEEventHandlerUPP(gHandlePrintDocAEUPP);
    if (gHandleQuitAppAEUPP != NULL) DisposeAEEventHandlerUPP(gHandleQuitAppAEUPP);
  }
}

//////////
// Events, idling and drawing
//////////

Boolean QTApp_HandleEvent(EventRecord* theEvent) {
  if (gEffectsDialog != 0) return QTEffects_HandleEffectsDialogEvents(theEvent, 0);
  return false;
}

void QTApp_Idle(WindowReference theWindow) {
  if (theWindow == NULL) return;

  GrafPtr mySavedPort;
  GetPort(&mySavedPort);
  SetPort(QTFrame_GetPortFromWindowReference(theWindow));

  WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
  if (myWindowObject != NULL && (**myWindowObject).fController != NULL &&
      theWindow == QTFrame_GetFrontMovieWindow()) {
    Point myMouse;
    Rect myPortRect;
    GetMouse(&myMouse);
    GetWindowPortBounds(QTFrame_GetWindowFromWindowReference(theWindow), &myPortRect);

    RgnHandle myVisibleRgn = NewRgn();
    if (myVisibleRgn != NULL) {
      GetPortVisibleRegion((CGrafPtr)QTFrame_GetPortFromWindowReference(theWindow), myVisibleRgn);
      // Outside the window, or under another window: the controller's cursor no longer applies.
      if (!PtInRect(myMouse, &myPortRect) || !PtInRgn(myMouse, myVisibleRgn)) SetArrowCursor();
      DisposeRgn(myVisibleRgn);
    }
  }

  SetPort(mySavedPort);
}

void QTApp_Draw(WindowReference theWindow, Rect* theRefreshArea) {
  (void)theRefreshArea;
  if (theWindow == NULL) return;

  GrafPtr mySavedPort;
  GetPort(&mySavedPort);
  SetPort(QTFrame_GetPortFromWindowReference(theWindow));

  // The framework never brackets an update itself: this is what validates the window.
  BeginUpdate(QTFrame_GetWindowFromWindowReference(theWindow));
  MovieController myMC = QTFrame_GetMCFromWindow(theWindow);
  if (myMC != NULL) MCDoAction(myMC, mcActionDraw, (void*)theWindow);
  EndUpdate(QTFrame_GetWindowFromWindowReference(theWindow));

  SetPort(mySavedPort);
}

void QTApp_HandleContentClick(WindowReference theWindow, EventRecord* theEvent) {
  (void)theEvent;  // the controller has already taken clicks on the movie and its bar
  if (theWindow == NULL) return;

  GrafPtr mySavedPort;
  GetPort(&mySavedPort);
  SetPort(QTFrame_GetPortFromWindowReference(theWindow));
  SetPort(mySavedPort);
}

Boolean QTApp_HandleKeyPress(char theCharCode) {
  (void)theCharCode;  // this application takes no plain keys
  return false;
}

//////////
// Menus
//////////

Boolean QTApp_HandleMenu(UInt16 theMenuItem) {
  switch (theMenuItem) {
    case IDM_MAKE_EFFECT_MOVIE:
      // One effects dialog at a time.
      if (gEffectsDialog == 0) QTEffects_PromptUserForFilesAndMakeEffect();
      return true;
    case IDM_COPY_MEDIA: gCopyMovieMedia = true; return true;
    case IDM_REFERENCE_MEDIA: gCopyMovieMedia = false; return true;
    case IDM_EXPORT_MOVIE:
      // The front movie window, whatever window is in front of it; with none, nothing to do.
      if (QTFrame_GetFrontMovieWindow() != NULL) ExportMovie(QTFrame_GetFrontMovieWindow());
      return true;
    default: return false;
  }
}

void QTApp_AdjustMenus(WindowReference theWindow, MenuReference theMenu) {
  (void)theWindow;
  (void)theMenu;

  MenuReference myMenu = GetMenuHandle(kApplicationMenuResID);
  if (myMenu == NULL) return;  // no application menu in the menu bar: nothing to adjust

  QTFrame_SetMenuItemState(myMenu, IDM_MAKE_EFFECT_MOVIE, gEffectsDialog != 0 ? 1 : 0);
  QTFrame_SetMenuItemCheck(myMenu, IDM_COPY_MEDIA, gCopyMovieMedia == true);
  QTFrame_SetMenuItemCheck(myMenu, IDM_REFERENCE_MEDIA, gCopyMovieMedia == false);
  // Export works on the front movie window, so it is on exactly while there is one.
  QTFrame_SetMenuItemState(myMenu, IDM_EXPORT_MOVIE, QTFrame_GetFrontMovieWindow() != NULL ? 0 : 1);
}

//////////
// Controllers and window objects
//////////

void QTApp_SetupController(MovieController theMC) {
  if (theMC == NULL) return;

  long myFlags = 0;
  MCDoAction(theMC, mcActionGetFlags, &myFlags);
  MCDoAction(theMC, mcActionSetFlags, (void*)(myFlags | mcFlagsUseWindowPalette));
  MCDoAction(theMC, mcActionSetKeysEnabled, (void*)true);
  MCDoAction(theMC, mcActionSetDragEnabled, (void*)false);
}

void QTApp_SetupWindowObject(WindowObject theWindowObject) {
  (void)theWindowObject;  // this application hangs no data on its windows
}

void QTApp_RemoveWindowObject(WindowObject theWindowObject) {
  (void)theWindowObject;  // nothing was hung on the record, so nothing to release
}

Boolean QTApp_MCActionFilterProc(MovieController theMC, short theAction, void* theParams,
                                 long theRefCon) {
  (void)theParams;
  WindowObject myWindowObject = (WindowObject)theRefCon;
  if (myWindowObject == NULL) return false;

  switch (theAction) {
    case mcActionControllerSizeChanged:
      if (MCIsControllerAttached(theMC) == 1) QTFrame_SizeWindowToMovie(myWindowObject);
      break;
    case mcActionIdle: QTApp_Idle((**myWindowObject).fWindow); break;
    // An edit made by a key of the window (Redo, Delete) rather than the Edit menu.
    case mcActionMovieEdited: (**myWindowObject).fIsDirty = true; break;
    default: break;
  }

  // The controller always does its own processing as well.
  return false;
}

//////////
// Apple events
//////////

void QTApp_InstallAppleEventHandlers(void) {
  SInt32 myResponse = 0;
  if (Gestalt(gestaltAppleEventsAttr, &myResponse) != noErr) return;
  if ((myResponse & (1L << gestaltAppleEventsPresent)) == 0) return;

  gHandleOpenAppAEUPP = NewAEEventHandlerUPP(QTApp_HandleOpenApplicationAppleEvent);
  gHandleOpenDocAEUPP = NewAEEventHandlerUPP(QTApp_HandleOpenDocumentAppleEvent);
  gHandlePrintDocAEUPP = NewAEEventHandlerUPP(QTApp_HandlePrintDocumentAppleEvent);
  gHandleQuitAppAEUPP = NewAEEventHandlerUPP(QTApp_HandleQuitApplicationAppleEvent);

  AEInstallEventHandler(kCoreEventClass, kAEOpenApplication, gHandleOpenAppAEUPP, 0L, false);
  AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments, gHandleOpenDocAEUPP, 0L, false);
  AEInstallEventHandler(kCoreEventClass, kAEPrintDocuments, gHandlePrintDocAEUPP, 0L, false);
  AEInstallEventHandler(kCoreEventClass, kAEQuitApplication, gHandleQuitAppAEUPP, 0L, false);
}

OSErr QTApp_HandleOpenApplicationAppleEvent(const AppleEvent* theMessage, AppleEvent* theReply,
                                            unsigned long theRefcon) {
  (void)theMessage;
  (void)theReply;
  (void)theRefcon;
  return noErr;
}

OSErr QTApp_HandleOpenDocumentAppleEvent(const AppleEvent* theMessage, AppleEvent* theReply,
                                         unsigned long theRefcon) {
  (void)theReply;
  (void)theRefcon;

  AEDescList myDocList;
  FSSpec myFSSpecList[kMaxSourceFiles];
  UInt16 mySpecCount = 0;
  long myItemsInList = 0;
  OSErr myErr = noErr;

  myDocList.descriptorType = typeNull;
  myDocList.dataHandle = NULL;

  myErr = AEGetParamDesc(theMessage, keyDirectObject, typeAEList, &myDocList);
  if (myErr == noErr) myErr = AECountItems(&myDocList, &myItemsInList);

  for (long myIndex = 1; myIndex <= myItemsInList && myErr == noErr; myIndex++) {
    AEKeyword myKeyword;
    DescType myActualType;
    Size myActualSize = 0;
    FSSpec myFSSpec;

    // Items after the second are read (so a bad one is still reported) but not kept.
    myErr = AEGetNthPtr(&myDocList, myIndex, typeFSS, &myKeyword, &myActualType, &myFSSpec,
                        sizeof(FSSpec), &myActualSize);
    if (myErr == noErr && mySpecCount < kMaxSourceFiles) myFSSpecList[mySpecCount++] = myFSSpec;
  }

  if (myDocList.dataHandle != NULL) AEDisposeDesc(&myDocList);

  if (myErr == noErr) {
    // One effects dialog at a time: documents arriving while one is open are refused rather
    // than replacing (and leaking) the open job.
    if (gEffectsDialog != 0)
      myErr = errAEEventNotHandled;
    else
      myErr = QTEffects_DisplayDialogForSources(myFSSpecList, mySpecCount);
  }

  gAppInForeground = true;
  return myErr;
}

OSErr QTApp_HandlePrintDocumentAppleEvent(const AppleEvent* theMessage, AppleEvent* theReply,
                                          unsigned long theRefcon) {
  (void)theMessage;
  (void)theReply;
  (void)theRefcon;
  return errAEEventNotHandled;  // this application prints nothing
}

OSErr QTApp_HandleQuitApplicationAppleEvent(const AppleEvent* theMessage, AppleEvent* theReply,
                                            unsigned long theRefcon) {
  (void)theMessage;
  (void)theReply;
  (void)theRefcon;
  // The user may still cancel while windows close; the event itself was handled.
  QTFrame_QuitFramework();
  return noErr;
}
