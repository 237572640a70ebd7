// Window manager.
#pragma once
#include "Quickdraw.h"

struct VTWindow;
typedef VTWindow* WindowPtr;
typedef VTWindow* WindowRef;
typedef WindowPtr CWindowPtr;

typedef short WindowPartCode;
typedef UInt16 WindowRegionCode;

// Window definitions (procID).
enum {
  documentProc = 0,
  dBoxProc = 1,
  plainDBox = 2,
  altDBoxProc = 3,
  noGrowDocProc = 4,
  movableDBoxProc = 5,
  zoomDocProc = 8,
  zoomNoGrow = 12,
  rDocProc = 16,
};

// Window kinds.
enum { dialogKind = 2, userKind = 8, kDialogWindowKind = 2, kApplicationWindowKind = 8 };

// FindWindow parts.
enum {
  inDesk = 0,
  inNoWindow = 0,
  inMenuBar = 1,
  inSysWindow = 2,
  inContent = 3,
  inDrag = 4,
  inGrow = 5,
  inGoAway = 6,
  inZoomIn = 7,
  inZoomOut = 8,
  inCollapseBox = 11,
  inProxyIcon = 12,
};

// GetWindowBounds regions.
enum {
  kWindowTitleBarRgn = 0,
  kWindowTitleTextRgn = 1,
  kWindowCloseBoxRgn = 2,
  kWindowZoomBoxRgn = 3,
  kWindowGrowRgn = 5,
  kWindowDragRgn = 7,
  kWindowStructureRgn = 32,
  kWindowContentRgn = 33,
  kWindowUpdateRgn = 34,
  kWindowGlobalPortRgn = 40,
};

typedef void (*DragGrayRgnProcPtr)();
typedef DragGrayRgnProcPtr DragGrayRgnUPP;

// Behind argument meaning "in front of every window".
#define kFirstWindowOfClass ((WindowRef)-1)

WindowRef NewCWindow(void* wStorage, const Rect* boundsRect, ConstStr255Param title,
                     Boolean visible, short procID, WindowRef behind, Boolean goAwayFlag,
                     long refCon);
WindowRef NewWindow(void* wStorage, const Rect* boundsRect, ConstStr255Param title, Boolean visible,
                    short theProc, WindowRef behind, Boolean goAwayFlag, long refCon);
void DisposeWindow(WindowRef window);

void SetWRefCon(WindowRef window, long data);
long GetWRefCon(WindowRef window);
short GetWindowKind(WindowRef window);
void SetWindowKind(WindowRef window, short kind);
CGrafPtr GetWindowPort(WindowRef window);
WindowRef GetWindowFromPort(CGrafPtr port);
Rect* GetWindowPortBounds(WindowRef window, Rect* bounds);
OSStatus GetWindowBounds(WindowRef window, WindowRegionCode regionCode, Rect* globalBounds);
OSStatus SetWindowBounds(WindowRef window, WindowRegionCode regionCode, const Rect* globalBounds);
void SetPortWindowPort(WindowRef window);

WindowRef FrontWindow();
WindowRef FrontNonFloatingWindow();
WindowRef GetNextWindow(WindowRef window);
WindowRef GetWindowList();
void SelectWindow(WindowRef window);
void ShowWindow(WindowRef window);
void HideWindow(WindowRef window);
void ShowHide(WindowRef window, Boolean showFlag);
Boolean IsWindowVisible(WindowRef window);
Boolean IsWindowHilited(WindowRef window);
void HiliteWindow(WindowRef window, Boolean fHilite);
void BringToFront(WindowRef window);
void SendBehind(WindowRef window, WindowRef behindWindow);
// Moves the window so its content's top-left is at (hGlobal, vGlobal).
void MoveWindow(WindowRef window, short hGlobal, short vGlobal, Boolean front);
void SizeWindow(WindowRef window, short w, short h, Boolean fUpdate);
void SetWTitle(WindowRef window, ConstStr255Param title);
void GetWTitle(WindowRef window, Str255 title);

OSStatus InvalWindowRect(WindowRef window, const Rect* bounds);
OSStatus InvalWindowRgn(WindowRef window, RgnHandle region);
OSStatus ValidWindowRect(WindowRef window, const Rect* bounds);
OSStatus ValidWindowRgn(WindowRef window, RgnHandle region);
void BeginUpdate(WindowRef window);
void EndUpdate(WindowRef window);

WindowPartCode FindWindow(Point thePoint, WindowRef* window);
void DragWindow(WindowRef window, Point startPt, const Rect* boundsRect);
void DragAlignedWindow(WindowRef window, Point startPt, const Rect* boundsRect,
                       const Rect* alignmentRect, DragGrayRgnUPP actionProc);
// Moves the window so the alignment rectangle (local coordinates) starts on an aligned column.
void AlignWindow(WindowRef window, Boolean front, const Rect* alignmentRect,
                 DragGrayRgnUPP actionProc);
Boolean TrackGoAway(WindowRef window, Point thePt);
// Tracks a press in the zoom box (part inZoomIn or inZoomOut, as FindWindow answered); true
// when the mouse is released inside it.
Boolean TrackBox(WindowRef window, Point thePt, WindowPartCode part);
// Does nothing: windows without a size box are the only ones this platform draws plainly,
// and document windows draw their size box with the frame.
void DrawGrowIcon(WindowRef window);
