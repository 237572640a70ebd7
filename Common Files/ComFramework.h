// The document framework: window objects, movie documents, the File and Edit menus and their
// state, and the open and save dialogs with the list of openable file types.
#pragma once
#include "MacPrefix.h"

// The application's signature: tag of every window object, and the open dialog's signature.
enum { kApplicationSignature = 'QTsh' };
#ifndef sigMoviePlayer
enum { kVTMoviePlayerSignature = 'TVOD' };
#define sigMoviePlayer kVTMoviePlayerSignature
#endif

// Start and stop phases, as bit masks.
enum {
  kInitAppPhase_BeforeCreateFrameWindow = 1L << 0,
  kInitAppPhase_AfterCreateFrameWindow = 1L << 1,
  kInitAppPhase_BothPhases =
      kInitAppPhase_BeforeCreateFrameWindow | kInitAppPhase_AfterCreateFrameWindow,
};
enum {
  kStopAppPhase_BeforeDestroyWindows = 1L << 0,
  kStopAppPhase_AfterDestroyWindows = 1L << 1,
  kStopAppPhase_BothPhases = kStopAppPhase_BeforeDestroyWindows | kStopAppPhase_AfterDestroyWindows,
};

typedef WindowPtr WindowReference;
typedef MenuHandle MenuReference;
typedef OSType* QTFrameTypeListPtr;
typedef NavObjectFilterUPP QTFrameFileFilterUPP;

// No operation of this program obtains a panorama instance; the field is kept as stored.
typedef void* QTFrameVRInstance;

// The record hung from every movie window's reference constant.
struct WindowObjectRecord {
  WindowReference fWindow;
  Movie fMovie;
  MovieController fController;
  GraphicsImportComponent fGraphicsImporter;
  FSSpec fFileFSSpec;
  short fFileResID;
  short fFileRefNum;
  Boolean fCanResizeWindow;
  Boolean fIsDirty;
  Boolean fIsQTVRMovie;
  QTFrameVRInstance fInstance;
  OSType fObjectType;
  Handle fAppData;
};
typedef WindowObjectRecord* WindowObjectPtr;
typedef WindowObjectPtr* WindowObject;

// The list of openable file types, built on first use by the file filter.
extern OSType* gValidFileTypes;
// The grow-box limits handed to every resizable movie controller.
extern Rect gMCResizeBounds;

// Window objects
void QTFrame_CreateWindowObject(WindowReference theWindow);
void QTFrame_CloseWindowObject(WindowObject theWindowObject);
WindowObject QTFrame_GetWindowObjectFromWindow(WindowReference theWindow);
WindowObject QTFrame_GetWindowObjectFromFrontWindow(void);
Boolean QTFrame_IsWindowObjectOurs(WindowObject theWindowObject);
Boolean QTFrame_IsAppWindow(WindowReference theWindow);
Boolean QTFrame_IsDocWindow(WindowReference theWindow);
WindowReference QTFrame_GetFrontAppWindow(void);
WindowReference QTFrame_GetNextAppWindow(WindowReference theWindow);
WindowReference QTFrame_GetFrontMovieWindow(void);
WindowReference QTFrame_GetNextMovieWindow(WindowReference theWindow);
void QTFrame_ActivateController(WindowReference theWindow, Boolean IsActive);
GrafPtr QTFrame_GetPortFromWindowReference(WindowReference theWindow);
WindowReference QTFrame_GetWindowReferenceFromPort(GrafPtr thePort);
WindowPtr QTFrame_GetWindowFromWindowReference(WindowReference theWindow);
MovieController QTFrame_GetMCFromWindow(WindowReference theWindow);
MovieController QTFrame_GetMCFromFrontWindow(void);
QTFrameVRInstance QTFrame_GetQTVRInstanceFromWindow(WindowReference theWindow);
QTFrameVRInstance QTFrame_GetQTVRInstanceFromFrontWindow(void);
Handle QTFrame_GetAppDataFromWindow(WindowReference theWindow);
Handle QTFrame_GetAppDataFromFrontWindow(void);
Handle QTFrame_GetAppDataFromWindowObject(WindowObject theWindowObject);

// Movie documents
Boolean QTFrame_CreateNewMovie(void);
Boolean QTFrame_OpenMovieInWindow(Movie theMovie, FSSpecPtr theFSSpec);
MovieController QTFrame_SetupController(Movie theMovie, WindowReference theWindow,
                                        Boolean theMoveWindow);
OSErr QTFrame_SaveAsMovieFile(WindowReference theWindow);
Boolean QTFrame_UpdateMovieFile(WindowReference theWindow);
void QTFrame_IdleMovieWindows(void);
void QTFrame_CloseMovieWindows(void);
void QTFrame_SizeWindowToMovie(WindowObject theWindowObject);
short QTFrame_GetWindowWidth(WindowReference theWindow);
void QTFrame_SetWindowTitleFromFSSpec(WindowReference theWindow, FSSpecPtr theFSSpecPtr,
                                      Boolean theAddToRecentDocs);
// The warning alert for a save into a file the user named that did not happen:
// "Could not <theAction> "<name>": <why>." with the error number below.
void QTFrame_ShowFileWarning(const char* theAction, ConstStr255Param theFileName, OSErr theErr);

// File and Edit menus and menu state
void QTFrame_HandleFileMenuItem(WindowReference theWindow, UInt16 theMenuItem);
void QTFrame_HandleEditMenuItem(WindowReference theWindow, UInt16 theMenuItem);
int QTFrame_AdjustMenus(WindowReference theWindow, MenuReference theMenu);
void QTFrame_SetMenuItemState(MenuReference theMenu, UInt16 theMenuItem, short theState);
void QTFrame_SetMenuState(MenuReference theMenu, UInt16 theMenuItem, short theState);
void QTFrame_SetMenuItemCheck(MenuReference theMenu, UInt16 theMenuItem, Boolean theState);
void QTFrame_SetMenuItemLabel(MenuReference theMenu, UInt16 theMenuItem, char* theText);
void QTFrame_Beep(void);

// File dialogs and file-type filtering
OSErr QTFrame_GetOneFileWithPreview(short theNumTypes, QTFrameTypeListPtr theTypeList,
                                    FSSpecPtr theFSSpecPtr, QTFrameFileFilterUPP theFilterProc);
OSErr QTFrame_PutFile(ConstStr255Param thePrompt, ConstStr255Param theFileName,
                      FSSpecPtr theFSSpecPtr, Boolean* theIsSelected, Boolean* theIsReplacing);
void QTFrame_HandleNavEvent(NavEventCallbackMessage theCallBackSelector,
                            NavCBRecPtr theCallBackParms, void* theCallBackUD);
Handle QTFrame_CreateOpenHandle(OSType theApplicationSignature, short theNumTypes,
                                QTFrameTypeListPtr theTypeList);
QTFrameFileFilterUPP QTFrame_GetFileFilterUPP(ProcPtr theFileFilterProc);
Boolean QTFrame_FilterFiles(AEDesc* theItem, void* theInfo, void* theCallBackUD,
                            NavFilterModes theFilterMode);
OSErr QTFrame_BuildFileTypeList(void);
void QTFrame_AddComponentFileTypes(OSType theComponentType, long* theNextIndex);
