// The document framework: window objects, movie documents, the File and Edit menus and their
// state, and the open and save dialogs with the list of openable file types.
#include "ComFramework.h"

#include "ComApplication.h"
#include "ComResource.h"
#include "MacFramework.h"
#include "QTUtilities.h"

OSType* gValidFileTypes = NULL;
Rect gMCResizeBounds = {0, 0, 0, 0};

namespace {

// The type list grows by this many bytes (100 types) whenever it is full.
const Size kTypeListGrowth = 400;

const short kDefaultWindowPosition = 50;

// Set when the type list could not grow: no further types are added to it at all.
bool sTypeListCannotGrow = false;

// A zero-terminated literal handed to QTUtils_ConvertCToPascalString, which wants a writable
// pointer but only reads it.
StringPtr NewPascalCopy(const char* theText) {
  return QTUtils_ConvertCToPascalString(const_cast<char*>(theText));
}

}  // namespace

//////////
// Window objects
//////////

void QTFrame_CreateWindowObject(WindowReference theWindow) {
  if (theWindow == NULL) return;

  WindowObject myWindowObject = (WindowObject)NewHandleClear(sizeof(WindowObjectRecord));
  if (myWindowObject != NULL) {
    (**myWindowObject).fWindow = theWindow;
    (**myWindowObject).fController = NULL;
    (**myWindowObject).fObjectType = kApplicationSignature;
    (**myWindowObject).fCanResizeWindow = true;
    (**myWindowObject).fInstance = NULL;
    (**myWindowObject).fIsDirty = false;
    (**myWindowObject).fAppData = NULL;
  }

  // A window whose record could not be made carries NULL and is no movie window.
  SetWRefCon(theWindow, (long)myWindowObject);
  SetPort((GrafPtr)GetWindowPort(theWindow));
}

void QTFrame_CloseWindowObject(WindowObject theWindowObject) {
  if (theWindowObject == NULL) return;

  if ((**theWindowObject).fFileRefNum != -1) {
    CloseMovieFile((**theWindowObject).fFileRefNum);
    (**theWindowObject).fFileRefNum = -1;
  }

  // The action filter holds the record as its refcon: take it away before the controller goes.
  if ((**theWindowObject).fController != NULL) {
    MCSetActionFilterWithRefCon((**theWindowObject).fController, NULL, 0);
    DisposeMovieController((**theWindowObject).fController);
    (**theWindowObject).fController = NULL;
  }

  if ((**theWindowObject).fMovie != NULL) {
    DisposeMovie((**theWindowObject).fMovie);
    (**theWindowObject).fMovie = NULL;
  }

  if ((**theWindowObject).fGraphicsImporter != NULL) {
    CloseComponent((**theWindowObject).fGraphicsImporter);
    (**theWindowObject).fGraphicsImporter = NULL;
  }

  QTApp_RemoveWindowObject(theWindowObject);
  DisposeHandle((Handle)theWindowObject);
}

WindowObject QTFrame_GetWindowObjectFromWindow(WindowReference theWindow) {
  if (!QTFrame_IsAppWindow(theWindow)) return NULL;

  WindowObject myWindowObject = (WindowObject)GetWRefCon(theWindow);
  if (!QTFrame_IsWindowObjectOurs(myWindowObject)) return NULL;
  return myWindowObject;
}

WindowObject QTFrame_GetWindowObjectFromFrontWindow(void) {
  return QTFrame_GetWindowObjectFromWindow(QTFrame_GetFrontMovieWindow());
}

Boolean QTFrame_IsWindowObjectOurs(WindowObject theWindowObject) {
  if (theWindowObject == NULL || *theWindowObject == NULL) return false;
  return (**theWindowObject).fObjectType == kApplicationSignature;
}

Boolean QTFrame_IsAppWindow(WindowReference theWindow) {
  if (theWindow == NULL) return false;
  return GetWindowKind(theWindow) > 7;
}

Boolean QTFrame_IsDocWindow(WindowReference theWindow) { return QTFrame_IsAppWindow(theWindow); }

WindowReference QTFrame_GetFrontAppWindow(void) { return FrontWindow(); }

WindowReference QTFrame_GetNextAppWindow(WindowReference theWindow) {
  if (theWindow == NULL) return NULL;
  return GetNextWindow(theWindow);
}

WindowReference QTFrame_GetFrontMovieWindow(void) {
  WindowReference myWindow = QTFrame_GetFrontAppWindow();
  while (myWindow != NULL && QTFrame_GetWindowObjectFromWindow(myWindow) == NULL)
    myWindow = QTFrame_GetNextAppWindow(myWindow);
  return myWindow;
}

WindowReference QTFrame_GetNextMovieWindow(WindowReference theWindow) {
  WindowReference myWindow = QTFrame_GetNextAppWindow(theWindow);
  while (myWindow != NULL && QTFrame_GetWindowObjectFromWindow(myWindow) == NULL)
    myWindow = QTFrame_GetNextAppWindow(myWindow);
  return myWindow;
}

void QTFrame_ActivateController(WindowReference theWindow, Boolean IsActive) {
  if (theWindow == NULL) return;

  GrafPtr mySavedPort;
  GetPort(&mySavedPort);
  SetPort(QTFrame_GetPortFromWindowReference(theWindow));

  WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
  if (myWindowObject != NULL && (**myWindowObject).fController != NULL)
    MCActivate((**myWindowObject).fController, QTFrame_GetWindowFromWindowReference(theWindow),
               IsActive);

  SetPort(mySavedPort);
}

GrafPtr QTFrame_GetPortFromWindowReference(WindowReference theWindow) {
  return (GrafPtr)GetWindowPort(theWindow);
}

WindowReference QTFrame_GetWindowReferenceFromPort(GrafPtr thePort) {
  return (WindowReference)GetWindowFromPort((CGrafPtr)thePort);
}

WindowPtr QTFrame_GetWindowFromWindowReference(WindowReference theWindow) { return theWindow; }

MovieController QTFrame_GetMCFromWindow(WindowReference theWindow) {
  WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
  return myWindowObject != NULL ? (**myWindowObject).fController : NULL;
}

MovieController QTFrame_GetMCFromFrontWindow(void) {
  return QTFrame_GetMCFromWindow(QTFrame_GetFrontMovieWindow());
}

QTFrameVRInstance QTFrame_GetQTVRInstanceFromWindow(WindowReference theWindow) {
  WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
  return myWindowObject != NULL ? (**myWindowObject).fInstance : NULL;
}

QTFrameVRInstance QTFrame_GetQTVRInstanceFromFrontWindow(void) {
  return QTFrame_GetQTVRInstanceFromWindow(QTFrame_GetFrontMovieWindow());
}

Handle QTFrame_GetAppDataFromWindow(WindowReference theWindow) {
  WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
  if (myWindowObject == NULL) return NULL;
  return QTFrame_GetAppDataFromWindowObject(myWindowObject);
}

Handle QTFrame_GetAppDataFromFrontWindow(void) {
  return QTFrame_GetAppDataFromWindow(QTFrame_GetFrontMovieWindow());
}

Handle QTFrame_GetAppDataFromWindowObject(WindowObject theWindowObject) {
  if (!QTFrame_IsWindowObjectOurs(theWindowObject)) return NULL;
  return (**theWindowObject).fAppData;
}

//////////
// Movie documents
//////////

Boolean QTFrame_CreateNewMovie(void) {
  StringPtr myName = NewPascalCopy("untitled.mov");
  if (myName == NULL) return false;

  Movie myMovie = NewMovie(newMovieActive);
  if (myMovie == NULL) {
    free(myName);
    return false;
  }

  // The file need not exist: it is created by the first Save As.
  FSSpec myFSSpec;
  FSMakeFSSpec(0, 0, myName, &myFSSpec);
  free(myName);

  return QTFrame_OpenMovieInWindow(myMovie, &myFSSpec);
}

Boolean QTFrame_OpenMovieInWindow(Movie theMovie, FSSpecPtr theFSSpec) {
  Movie myMovie = theMovie;
  MovieController myMC = NULL;
  WindowReference myWindow = NULL;
  WindowObject myWindowObject = NULL;
  short myRefNum = -1;
  short myResID = 0;
  FSSpec myFSSpec;
  GrafPtr mySavedPort;
  Point myPoint;
  Rect myRect;
  OSErr myErr = noErr;

  GetPort(&mySavedPort);
  BlockZero(&myFSSpec, sizeof(myFSSpec));

  // A movie handed in without the file it came from could be given neither a title nor a
  // file to save into; refuse it (and dispose of it, as the caller handed it over).
  if (theMovie != NULL && theFSSpec == NULL) {
    myErr = paramErr;
    goto bail;
  }

  if (theMovie == NULL && theFSSpec == NULL) {
    QTFrameFileFilterUPP myFileFilterUPP = QTFrame_GetFileFilterUPP(
        reinterpret_cast<ProcPtr>(reinterpret_cast<void (*)(void)>(QTFrame_FilterFiles)));
    myErr = QTFrame_GetOneFileWithPreview(0, NULL, &myFSSpec, myFileFilterUPP);
    if (myFileFilterUPP != NULL) DisposeNavObjectFilterUPP(myFileFilterUPP);
    if (myErr != noErr) goto bail;
  }

  if (theFSSpec != NULL)
    FSMakeFSSpec(theFSSpec->vRefNum, theFSSpec->parID, theFSSpec->name, &myFSSpec);

  if (myMovie == NULL) {
    myErr = OpenMovieFile(&myFSSpec, &myRefNum, fsRdWrPerm);
    if (myErr != noErr) {
      myRefNum = -1;
      myErr = OpenMovieFile(&myFSSpec, &myRefNum, fsRdPerm);
    }
    if (myErr != noErr) {
      myRefNum = -1;
      goto bail;
    }

    myResID = 0;
    myErr = NewMovieFromFile(&myMovie, myRefNum, &myResID, NULL, newMovieActive, NULL);
    if (myErr != noErr) {
      myMovie = NULL;
      goto bail;
    }
  }

  SetMovieProgressProc(myMovie, (MovieProgressUPP)-1L, 0);

  myWindow = QTFrame_CreateMovieWindow();
  if (myWindow == NULL) {
    myErr = memFullErr;
    goto bail;
  }
  myWindowObject = QTFrame_GetWindowObjectFromWindow(myWindow);
  if (myWindowObject == NULL) {
    myErr = memFullErr;
    goto bail;
  }

  QTFrame_SetWindowTitleFromFSSpec(myWindow, &myFSSpec, true);
  SetMovieGWorld(myMovie, (CGrafPtr)QTFrame_GetPortFromWindowReference(myWindow), NULL);

  // A movie without a controller is still shown; the edit commands then stay disabled.
  myMC = QTFrame_SetupController(myMovie, myWindow, true);

  (**myWindowObject).fMovie = myMovie;
  (**myWindowObject).fController = myMC;
  (**myWindowObject).fGraphicsImporter = NULL;
  (**myWindowObject).fFileResID = myResID;
  (**myWindowObject).fFileRefNum = myRefNum;
  (**myWindowObject).fCanResizeWindow = true;
  (**myWindowObject).fIsDirty = false;
  (**myWindowObject).fIsQTVRMovie = QTUtils_IsQTVRMovie(myMovie);
  (**myWindowObject).fInstance = NULL;
  (**myWindowObject).fAppData = NULL;
  (**myWindowObject).fFileFSSpec = myFSSpec;

  QTApp_SetupWindowObject(myWindowObject);
  QTFrame_SizeWindowToMovie(myWindowObject);

  SetMoviePlayHints(myMovie, hintsAllowDynamicResize, hintsAllowDynamicResize);

  QTUtils_GetWindowPositionFromFile(myMovie, &myPoint);
  MoveWindow(myWindow, myPoint.h, myPoint.v, false);

  ShowWindow(myWindow);
  SelectWindow(myWindow);
  GetWindowPortBounds(myWindow, &myRect);
  InvalWindowRect(myWindow, &myRect);

  if (QTUtils_IsStreamedMovie(myMovie) && myMC != NULL)
    MCDoAction(myMC, mcActionPrerollAndPlay, (void*)(long)GetMoviePreferredRate(myMovie));

  return true;

bail:
  // Every failure comes before the record is filled: release what this call made directly.
  if (myWindow != NULL) DisposeWindow(myWindow);
  if (myMC != NULL) {
    MCSetActionFilterWithRefCon(myMC, NULL, 0);
    DisposeMovieController(myMC);
  }
  if (myMovie != NULL) DisposeMovie(myMovie);
  if (myRefNum != -1) CloseMovieFile(myRefNum);
  SetPort(mySavedPort);
  return false;
}

MovieController QTFrame_SetupController(Movie theMovie, WindowReference theWindow,
                                        Boolean theMoveWindow) {
  if (theMovie == NULL || theWindow == NULL) return NULL;
  WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
  if (myWindowObject == NULL) return NULL;

  GrafPtr mySavedPort;
  GetPort(&mySavedPort);
  SetPort(QTFrame_GetPortFromWindowReference(theWindow));

  Rect myRect;
  GetMovieBox(theMovie, &myRect);
  OffsetRect(&myRect, (short)-myRect.left, (short)-myRect.top);
  SetMovieBox(theMovie, &myRect);

  AlignWindow(QTFrame_GetWindowFromWindowReference(theWindow), false, &myRect, NULL);

  MovieController myMC = NewMovieController(theMovie, &myRect, mcTopLeftMovie);
  if (myMC == NULL) {
    SetPort(mySavedPort);
    return NULL;
  }

  MCEnableEditing(myMC, true);
  MCDoAction(myMC, mcActionSetUseBadge, (void*)false);

  QTUtils_SetLoopingStateFromFile(theMovie, myMC);

  MCSetActionFilterWithRefCon(myMC, NewMCActionFilterWithRefConUPP(QTApp_MCActionFilterProc),
                              (long)myWindowObject);

  if ((**myWindowObject).fCanResizeWindow) {
    GetRegionBounds(GetGrayRgn(), &gMCResizeBounds);
    MCDoAction(myMC, mcActionSetGrowBoxBounds, &gMCResizeBounds);
  }

  if (theMoveWindow)
    MoveWindow(QTFrame_GetWindowFromWindowReference(theWindow), kDefaultWindowPosition,
               kDefaultWindowPosition, false);

  SetPort(mySavedPort);
  QTApp_SetupController(myMC);
  return myMC;
}

OSErr QTFrame_SaveAsMovieFile(WindowReference theWindow) {
  StringPtr myPrompt = NewPascalCopy("Save Movie as:");
  StringPtr myFileName = NewPascalCopy("untitled.mov");
  WindowObject myWindowObject = NULL;
  Movie myMovie = NULL;
  Movie myNewMovie = NULL;
  MovieController myNewMC = NULL;
  FSSpec myFile;
  Boolean myIsSelected = false;
  Boolean myIsReplacing = false;
  short myRefNum = -1;
  short myResID = movieInDataForkResID;
  OSErr myErr = paramErr;

  myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
  if (myWindowObject == NULL || myPrompt == NULL || myFileName == NULL) goto bail;
  myMovie = (**myWindowObject).fMovie;
  if (myMovie == NULL) goto bail;

  QTFrame_PutFile(myPrompt, myFileName, &myFile, &myIsSelected, &myIsReplacing);
  if (!myIsSelected) {
    myErr = userCanceledErr;
    goto bail;
  }

  // A file being replaced is not deleted first: the flatten below replaces it
  // (createMovieFileDeleteCurFile) only once the new movie is whole, so a failed save keeps it.

  {
    Movie myFlattened = FlattenMovieData(
        myMovie, flattenAddMovieToDataFork | flattenForceMovieResourceBeforeMovieData, &myFile,
        sigMoviePlayer, smSystemScript,
        createMovieFileDeleteCurFile | createMovieFileDontCreateResFile);
    myErr = GetMoviesError();
    if (myFlattened == NULL || myErr != noErr) {
      if (myFlattened != NULL) DisposeMovie(myFlattened);
      if (myErr == noErr) myErr = memFullErr;  // no movie came back: never report success
      goto bail;
    }
    DisposeMovie(myFlattened);
  }

  myErr = OpenMovieFile(&myFile, &myRefNum, fsRdWrPerm);
  if (myErr != noErr) {
    myRefNum = -1;
    goto bail;
  }
  myErr = NewMovieFromFile(&myNewMovie, myRefNum, &myResID, NULL, newMovieActive, NULL);
  if (myErr != noErr) {
    myNewMovie = NULL;
    CloseMovieFile(myRefNum);
    goto bail;
  }

  myNewMC = QTFrame_SetupController(myNewMovie, theWindow, false);

  if ((**myWindowObject).fFileRefNum != -1) CloseMovieFile((**myWindowObject).fFileRefNum);
  if ((**myWindowObject).fController != NULL) {
    MCSetActionFilterWithRefCon((**myWindowObject).fController, NULL, 0);
    DisposeMovieController((**myWindowObject).fController);
  }
  DisposeMovie(myMovie);

  (**myWindowObject).fMovie = myNewMovie;
  (**myWindowObject).fController = myNewMC;
  (**myWindowObject).fFileFSSpec = myFile;
  (**myWindowObject).fFileResID = myResID;
  (**myWindowObject).fFileRefNum = myRefNum;
  (**myWindowObject).fIsDirty = false;
  SetMovieGWorld(myNewMovie,
                 (CGrafPtr)QTFrame_GetPortFromWindowReference((**myWindowObject).fWindow), NULL);
  QTFrame_SetWindowTitleFromFSSpec(theWindow, &myFile, true);
  myErr = noErr;

bail:
  // Once the user has named a file, a save that did not happen is reported: the document
  // keeps its state and the user knows that the work is not saved yet. A cancel in the
  // progress window is the user's own choice and is not.
  if (myIsSelected && myErr != noErr && myErr != userCanceledErr)
    QTFrame_ShowFileWarning("save", myFile.name, myErr);
  free(myPrompt);
  free(myFileName);
  return myErr;
}

Boolean QTFrame_UpdateMovieFile(WindowReference theWindow) {
  WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
  if (myWindowObject == NULL) return false;
  Movie myMovie = (**myWindowObject).fMovie;
  if (myMovie == NULL) return false;

  QTUtils_UpdateMovieVolumeSetting(myMovie);

  OSErr myErr;
  if ((**myWindowObject).fFileRefNum == -1) {
    myErr = QTFrame_SaveAsMovieFile(theWindow);  // which reports its own failures
  } else {
    myErr = UpdateMovieResource(myMovie, (**myWindowObject).fFileRefNum,
                                (**myWindowObject).fFileResID, NULL);
    if (myErr != noErr) {
      Str255 myName;
      BlockMoveData((**myWindowObject).fFileFSSpec.name, myName,
                    (**myWindowObject).fFileFSSpec.name[0] + 1);
      QTFrame_ShowFileWarning("save", myName, myErr);
    }
  }

  // Only a save that succeeded clears the mark: a failed or cancelled save must not let the
  // window close later without asking, which would throw the edits away.
  if (myErr == noErr) (**myWindowObject).fIsDirty = false;
  return myErr == noErr;
}

void QTFrame_IdleMovieWindows(void) {
  WindowReference myWindow = QTFrame_GetFrontMovieWindow();
  while (myWindow != NULL) {
    MovieController myMC = QTFrame_GetMCFromWindow(myWindow);
    if (myMC != NULL) MCIdle(myMC);
    QTApp_Idle(myWindow);
    myWindow = QTFrame_GetNextMovieWindow(myWindow);
  }
}

void QTFrame_CloseMovieWindows(void) {
  WindowReference myWindow = QTFrame_GetFrontMovieWindow();
  while (myWindow != NULL) {
    // The current window may be gone after the destroy: find its successor first.
    WindowReference myNextWindow = QTFrame_GetNextMovieWindow(myWindow);
    QTFrame_DestroyMovieWindow(myWindow);
    myWindow = myNextWindow;
  }
}

void QTFrame_SizeWindowToMovie(WindowObject theWindowObject) {
  if (theWindowObject == NULL) return;

  Rect myRect = {0, 0, 0, 0};
  if ((**theWindowObject).fGraphicsImporter != NULL) {
    GraphicsImportGetBoundsRect((**theWindowObject).fGraphicsImporter, &myRect);
  } else {
    Movie myMovie = (**theWindowObject).fMovie;
    if (myMovie == NULL) return;
    GetMovieBox(myMovie, &myRect);
    MovieController myMC = (**theWindowObject).fController;
    if (myMC != NULL && MCGetVisible(myMC)) MCGetControllerBoundsRect(myMC, &myRect);
    if (myRect.right == myRect.left) {
      myRect.left = 0;
      myRect.right = QTFrame_GetWindowWidth((**theWindowObject).fWindow);
    }
  }

  SizeWindow((**theWindowObject).fWindow, (short)(myRect.right - myRect.left),
             (short)(myRect.bottom - myRect.top), true);
}

short QTFrame_GetWindowWidth(WindowReference theWindow) {
  Rect myRect = {0, 0, 0, 0};
  if (theWindow != NULL) GetWindowPortBounds(theWindow, &myRect);
  return (short)(myRect.right - myRect.left);
}

void QTFrame_SetWindowTitleFromFSSpec(WindowReference theWindow, FSSpecPtr theFSSpecPtr,
                                      Boolean theAddToRecentDocs) {
  (void)theAddToRecentDocs;  // this platform keeps no recent-documents list
  if (theWindow == NULL || theFSSpecPtr == NULL) return;
  SetWTitle(theWindow, theFSSpecPtr->name);
}

// What went wrong with a save, in the user's terms; the alert shows the error number as well.
static const char* QTFrame_DescribeFileError(OSErr theErr) {
  switch (theErr) {
    // The movie may be in another window, this window's own, or a source of the effect movie.
    case fBsyErr: return "the file is in use by an open movie";
    case permErr:
    case wrPermErr:
    case wPrErr:
    case vLckdErr:
    case fLckdErr:
    case afpAccessDenied: return "the folder or the file is read-only";
    case dskFulErr: return "the disk is full";
    case fnfErr:
    case dirNFErr:
    case nsvErr: return "the file or its folder cannot be found";
    case ioErr: return "the disk could not be read or written";
    case memFullErr: return "there is not enough memory";
    case couldNotResolveDataRef: return "media that the movie uses cannot be found";
    case badFileFormat:
      return "a file of this format cannot be written; use Save As to save a movie file";
    case invalidMovie:
    case noMovieFound:
    case badPublicMovieAtom:
    case invalidSampleTable:
    case invalidDataRef:
    case badEditList:
    case cantFindHandler:
    case noMediaHandler:
    case invalidMedia:
    case invalidTrack: return "the file is damaged or is not a movie this application can read";
    default: return "the movie toolbox reported an error";
  }
}

void QTFrame_ShowFileWarning(const char* theAction, ConstStr255Param theFileName, OSErr theErr) {
  Str255 myMessage;
  short myLength = 0;
  const char* myReason = QTFrame_DescribeFileError(theErr);

  // Pieces are appended up to the string's 255 characters; whatever does not fit is cut.
  auto myAppend = [&](const unsigned char* theText, size_t theCount) {
    for (size_t myIndex = 0; myIndex < theCount && myLength < 255; myIndex++)
      myMessage[++myLength] = theText[myIndex];
  };
  auto myAppendText = [&](const char* theText) {
    myAppend((const unsigned char*)theText, strlen(theText));
  };

  myAppendText("Could not ");
  myAppendText(theAction != NULL ? theAction : "finish");
  if (theFileName != NULL && theFileName[0] > 0) {
    myAppendText(" \"");
    myAppend(theFileName + 1, theFileName[0]);
    myAppendText("\"");
  }
  myAppendText(": ");
  myAppendText(myReason);
  myAppendText(".");
  myMessage[0] = (unsigned char)myLength;

  QTFrame_ShowWarning(myMessage, theErr);
}

//////////
// File and Edit menus
//////////

void QTFrame_HandleFileMenuItem(WindowReference theWindow, UInt16 theMenuItem) {
  if (QTApp_HandleMenu(theMenuItem)) return;

  switch (theMenuItem) {
    case IDM_FILENEW: QTFrame_CreateNewMovie(); break;
    case IDM_FILEOPEN: QTFrame_OpenMovieInWindow(NULL, NULL); break;
    case IDM_FILECLOSE: QTFrame_DestroyMovieWindow(theWindow); break;
    case IDM_FILESAVE: QTFrame_UpdateMovieFile(theWindow); break;
    case IDM_FILESAVEAS: QTFrame_SaveAsMovieFile(theWindow); break;
    case IDM_EXIT: QTFrame_QuitFramework(); break;
    default: break;
  }
}

void QTFrame_HandleEditMenuItem(WindowReference theWindow, UInt16 theMenuItem) {
  if (QTApp_HandleMenu(theMenuItem)) return;

  WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
  MovieController myMC = QTFrame_GetMCFromWindow(theWindow);
  if (myWindowObject == NULL || myMC == NULL) return;

  Movie myEditMovie = NULL;
  switch (theMenuItem) {
    case IDM_EDITUNDO:
      MCUndo(myMC);
      (**myWindowObject).fIsDirty = true;
      break;
    case IDM_EDITCUT:
      myEditMovie = MCCut(myMC);
      (**myWindowObject).fIsDirty = true;
      break;
    case IDM_EDITCOPY: myEditMovie = MCCopy(myMC); break;
    case IDM_EDITPASTE:
      MCPaste(myMC, NULL);
      (**myWindowObject).fIsDirty = true;
      break;
    case IDM_EDITCLEAR:
      MCClear(myMC);
      (**myWindowObject).fIsDirty = true;
      break;
    case IDM_EDITSELECTALL: QTUtils_SelectAllMovie(myMC); break;
    case IDM_EDITSELECTNONE: QTUtils_SelectNoneMovie(myMC); break;
    default: break;
  }

  if (myEditMovie != NULL) {
    PutMovieOnScrap(myEditMovie, 0L);
    DisposeMovie(myEditMovie);
  }
}

int QTFrame_AdjustMenus(WindowReference theWindow, MenuReference theMenu) {
  WindowObject myWindowObject = NULL;
  MovieController myMC = NULL;

  if (theWindow != NULL) {
    myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
    if (myWindowObject != NULL) myMC = (**myWindowObject).fController;
  }

  MenuReference myMenu = GetMenuHandle(kEditMenuResID);
  if (myMenu != NULL) {
    if (myMC != NULL) {
      long myFlags = 0;
      MCGetControllerInfo(myMC, &myFlags);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITUNDO, (myFlags & mcInfoUndoAvailable) ? 0 : 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITCUT, (myFlags & mcInfoCutAvailable) ? 0 : 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITCOPY, (myFlags & mcInfoCopyAvailable) ? 0 : 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITPASTE, (myFlags & mcInfoPasteAvailable) ? 0 : 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITCLEAR, (myFlags & mcInfoClearAvailable) ? 0 : 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITSELECTALL, (myFlags & mcInfoEditingEnabled) ? 0 : 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITSELECTNONE,
                               (myFlags & mcInfoEditingEnabled) ? 0 : 1);
    } else {
      QTFrame_SetMenuItemState(myMenu, IDM_EDITUNDO, 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITCUT, 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITCOPY, 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITPASTE, 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITCLEAR, 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITSELECTALL, 1);
      QTFrame_SetMenuItemState(myMenu, IDM_EDITSELECTNONE, 1);
    }
  }

  myMenu = GetMenuHandle(kFileMenuResID);
  if (myMenu != NULL) {
    if (theWindow != NULL) {
      QTFrame_SetMenuItemState(myMenu, IDM_FILECLOSE, 0);
      if (myWindowObject != NULL) {
        QTFrame_SetMenuItemState(myMenu, IDM_FILESAVEAS, 0);
        QTFrame_SetMenuItemState(myMenu, IDM_FILESAVE, (**myWindowObject).fIsDirty ? 0 : 1);
      } else {
        QTFrame_SetMenuItemState(myMenu, IDM_FILESAVEAS, 1);
        QTFrame_SetMenuItemState(myMenu, IDM_FILESAVE, 1);
      }
    } else {
      QTFrame_SetMenuItemState(myMenu, IDM_FILESAVE, 1);
      QTFrame_SetMenuItemState(myMenu, IDM_FILESAVEAS, 1);
      QTFrame_SetMenuItemState(myMenu, IDM_FILECLOSE, 1);
    }
  }

  QTApp_AdjustMenus(theWindow, theMenu);
  return 0;
}

void QTFrame_SetMenuItemState(MenuReference theMenu, UInt16 theMenuItem, short theState) {
  short myItem = (short)(theMenuItem & 0x00FF);
  UInt8 myModifiers = 0;

  // Enabling and disabling must never change the item's command-key modifiers.
  GetMenuItemModifiers(theMenu, myItem, &myModifiers);
  if (theState == 0)
    EnableMenuItem(theMenu, myItem);
  else
    DisableMenuItem(theMenu, myItem);
  SetMenuItemModifiers(theMenu, myItem, myModifiers);
}

void QTFrame_SetMenuState(MenuReference theMenu, UInt16 theMenuItem, short theState) {
  (void)theMenuItem;  // item 0 stands for the whole menu
  QTFrame_SetMenuItemState(theMenu, 0, theState);
}

void QTFrame_SetMenuItemCheck(MenuReference theMenu, UInt16 theMenuItem, Boolean theState) {
  CheckMenuItem(theMenu, (short)(theMenuItem & 0x00FF), theState);
}

void QTFrame_SetMenuItemLabel(MenuReference theMenu, UInt16 theMenuItem, char* theText) {
  Str255 myString;
  short myLength = 0;

  // A length-prefixed string holds 255 characters: anything beyond is cut rather than
  // written past the end of the buffer.
  if (theText != NULL) {
    for (const char* myChar = theText; *myChar != '\0' && myLength < 255; ++myChar)
      if (*myChar != '&') myString[++myLength] = (unsigned char)*myChar;
  }
  myString[0] = (unsigned char)myLength;

  SetMenuItemText(theMenu, (short)(theMenuItem & 0x00FF), myString);
}

void QTFrame_Beep(void) { SysBeep(30); }

//////////
// File dialogs and file-type filtering
//////////

OSErr QTFrame_GetOneFileWithPreview(short theNumTypes, QTFrameTypeListPtr theTypeList,
                                    FSSpecPtr theFSSpecPtr, QTFrameFileFilterUPP theFilterProc) {
  NavReplyRecord myReply;
  NavDialogOptions myDialogOptions;
  NavTypeListHandle myOpenList = NULL;
  NavEventUPP myEventUPP = NewNavEventUPP(QTFrame_HandleNavEvent);
  OSErr myErr = noErr;

  if (theFSSpecPtr == NULL) {
    if (myEventUPP != NULL) DisposeNavEventUPP(myEventUPP);
    return paramErr;
  }

  QTFrame_ActivateController(QTFrame_GetFrontMovieWindow(), false);

  NavGetDefaultDialogOptions(&myDialogOptions);
  myDialogOptions.dialogOptionFlags &= ~kNavAllowMultipleFiles;
  myDialogOptions.dialogOptionFlags &= ~kNavNoTypePopup;
  BlockMoveData(gAppName, myDialogOptions.clientName, gAppName[0] + 1);

  myOpenList =
      (NavTypeListHandle)QTFrame_CreateOpenHandle(kApplicationSignature, theNumTypes, theTypeList);
  if (myOpenList != NULL) HLock((Handle)myOpenList);

  BlockZero(&myReply, sizeof(myReply));
  myErr = NavGetFile(NULL, &myReply, &myDialogOptions, myEventUPP, NULL, theFilterProc, myOpenList,
                     NULL);
  if (myErr == noErr && myReply.validRecord) {
    AEKeyword myKeyword;
    DescType myActualType;
    Size myActualSize = 0;
    myErr = AEGetNthPtr(&myReply.selection, 1, typeFSS, &myKeyword, &myActualType, theFSSpecPtr,
                        sizeof(FSSpec), &myActualSize);
    NavDisposeReply(&myReply);
  } else if (myErr == noErr) {
    // A dialog that ends without a chosen file has chosen nothing, whatever it answered.
    NavDisposeReply(&myReply);
    myErr = userCanceledErr;
  }

  if (myOpenList != NULL) {
    HUnlock((Handle)myOpenList);
    DisposeHandle((Handle)myOpenList);
  }
  DisposeNavEventUPP(myEventUPP);
  return myErr;
}

OSErr QTFrame_PutFile(ConstStr255Param thePrompt, ConstStr255Param theFileName,
                      FSSpecPtr theFSSpecPtr, Boolean* theIsSelected, Boolean* theIsReplacing) {
  NavReplyRecord myReply;
  NavDialogOptions myDialogOptions;
  NavEventUPP myEventUPP = NewNavEventUPP(QTFrame_HandleNavEvent);
  OSErr myErr = noErr;

  if (theFSSpecPtr == NULL || theIsSelected == NULL || theIsReplacing == NULL) {
    if (myEventUPP != NULL) DisposeNavEventUPP(myEventUPP);
    return paramErr;
  }

  QTFrame_ActivateController(QTFrame_GetFrontMovieWindow(), false);

  *theIsReplacing = false;
  *theIsSelected = false;

  NavGetDefaultDialogOptions(&myDialogOptions);
  myDialogOptions.dialogOptionFlags |= kNavNoTypePopup;
  myDialogOptions.dialogOptionFlags |= kNavDontAutoTranslate;
  if (theFileName != NULL)
    BlockMoveData(theFileName, myDialogOptions.savedFileName, theFileName[0] + 1);
  BlockMoveData(gAppName, myDialogOptions.clientName, gAppName[0] + 1);
  if (thePrompt != NULL) BlockMoveData(thePrompt, myDialogOptions.message, thePrompt[0] + 1);

  BlockZero(&myReply, sizeof(myReply));
  myErr = NavPutFile(NULL, &myReply, &myDialogOptions, myEventUPP, kQTFileTypeMovie, sigMoviePlayer,
                     NULL);
  if (myErr == noErr && myReply.validRecord) {
    AEKeyword myKeyword;
    DescType myActualType;
    Size myActualSize = 0;
    myErr = AEGetNthPtr(&myReply.selection, 1, typeFSS, &myKeyword, &myActualType, theFSSpecPtr,
                        sizeof(FSSpec), &myActualSize);
    // Only a file that was really copied out counts as selected.
    *theIsSelected = (myErr == noErr);
    *theIsReplacing = myReply.replacing;
    NavDisposeReply(&myReply);
  }

  DisposeNavEventUPP(myEventUPP);
  return myErr;
}

void QTFrame_HandleNavEvent(NavEventCallbackMessage theCallBackSelector,
                            NavCBRecPtr theCallBackParms, void* theCallBackUD) {
  (void)theCallBackUD;
  if (theCallBackSelector != kNavCBEvent || theCallBackParms == NULL) return;

  EventRecord* myEvent = theCallBackParms->eventData.eventDataParms.event;
  if (myEvent == NULL) return;

  switch (myEvent->what) {
    case updateEvt: QTFrame_HandleEvent(myEvent); break;
    case nullEvent: QTFrame_IdleMovieWindows(); break;
    default: break;
  }
}

Handle QTFrame_CreateOpenHandle(OSType theApplicationSignature, short theNumTypes,
                                QTFrameTypeListPtr theTypeList) {
  if (theTypeList == NULL || theNumTypes <= 0) return NULL;

  NavTypeListHandle myHandle = (NavTypeListHandle)NewHandle(
      (Size)(sizeof(NavTypeList) + sizeof(OSType) * (theNumTypes - 1)));
  if (myHandle != NULL) {
    (**myHandle).componentSignature = theApplicationSignature;
    (**myHandle).osTypeCount = theNumTypes;
    BlockMoveData(theTypeList, (**myHandle).osType, (Size)sizeof(OSType) * theNumTypes);
  }
  return (Handle)myHandle;
}

QTFrameFileFilterUPP QTFrame_GetFileFilterUPP(ProcPtr theFileFilterProc) {
  // The toolbox passes filters as untyped procedure pointers; this is the one place the real
  // type is restored.
  return NewNavObjectFilterUPP(reinterpret_cast<NavObjectFilterProcPtr>(
      reinterpret_cast<void (*)(void)>(theFileFilterProc)));
}

Boolean QTFrame_FilterFiles(AEDesc* theItem, void* theInfo, void* theCallBackUD,
                            NavFilterModes theFilterMode) {
  (void)theCallBackUD;
  (void)theFilterMode;

  if (gValidFileTypes == NULL) QTFrame_BuildFileTypeList();

  if (theItem == NULL || theInfo == NULL) return true;
  NavFileOrFolderInfo* myInfo = (NavFileOrFolderInfo*)theInfo;

  if (theItem->descriptorType == typeFSS && !myInfo->isFolder) {
    if (gValidFileTypes == NULL) return false;
    OSType myType = myInfo->fileAndFolder.fileInfo.finderInfo.fdType;
    long myCount = GetPtrSize((Ptr)gValidFileTypes) / (long)sizeof(OSType);
    for (long myIndex = 0; myIndex < myCount; myIndex++)
      if (gValidFileTypes[myIndex] == myType) return true;
    return false;
  }

  return true;
}

OSErr QTFrame_BuildFileTypeList(void) {
  if (gValidFileTypes != NULL) return noErr;

  gValidFileTypes = (OSType*)NewPtrClear(kTypeListGrowth);
  if (gValidFileTypes == NULL) return memFullErr;

  sTypeListCannotGrow = false;
  long myNextIndex = 0;
  gValidFileTypes[myNextIndex++] = kQTFileTypeMovie;

  QTFrame_AddComponentFileTypes(MovieImportType, &myNextIndex);
  QTFrame_AddComponentFileTypes(GraphicsImporterComponentType, &myNextIndex);

  SetPtrSize((Ptr)gValidFileTypes, (Size)sizeof(OSType) * myNextIndex);
  return MemError();
}

void QTFrame_AddComponentFileTypes(OSType theComponentType, long* theNextIndex) {
  if (gValidFileTypes == NULL || theNextIndex == NULL) return;

  ComponentDescription myLookFor;
  myLookFor.componentType = theComponentType;
  myLookFor.componentSubType = 0;
  myLookFor.componentManufacturer = 0;
  myLookFor.componentFlags = 0;
  myLookFor.componentFlagsMask = movieImportSubTypeIsFileExtension;

  if (sTypeListCannotGrow) return;
  long myCapacity = GetPtrSize((Ptr)gValidFileTypes) / (long)sizeof(OSType);
  if (*theNextIndex > myCapacity || *theNextIndex < 0) return;

  Component myComponent = NULL;
  while ((myComponent = FindNextComponent(myComponent, &myLookFor)) != NULL) {
    if (*theNextIndex >= myCapacity) {
      SetPtrSize((Ptr)gValidFileTypes, GetPtrSize((Ptr)gValidFileTypes) + kTypeListGrowth);
      if (MemError() != noErr) {
        sTypeListCannotGrow = true;
        return;
      }
      myCapacity = GetPtrSize((Ptr)gValidFileTypes) / (long)sizeof(OSType);
    }

    ComponentDescription myInfo;
    GetComponentInfo(myComponent, &myInfo, NULL, NULL, NULL);
    gValidFileTypes[(*theNextIndex)++] = myInfo.componentSubType;
  }
}
