// The application hooks: what this application adds to the generic framework at its fixed
// points, and the handlers of the four required Apple events.
#pragma once
#include "MacPrefix.h"

#include "ComFramework.h"

// The application's own data for one window, hung from the window object's fAppData.
struct ApplicationDataRecord {
  Boolean fBogusField;
};
typedef ApplicationDataRecord* ApplicationDataPtr;
typedef ApplicationDataPtr* ApplicationDataHdl;

// The Apple event handlers, wrapped once at start-up.
extern AEEventHandlerUPP gHandleOpenAppAEUPP;
extern AEEventHandlerUPP gHandleOpenDocAEUPP;
extern AEEventHandlerUPP gHandlePrintDocAEUPP;
extern AEEventHandlerUPP gHandleQuitAppAEUPP;

// The export format chosen last (an index into the Export dialog's formats), proposed again.
extern short gExportFormat;

// Hooks called by the framework
void QTApp_Init(UInt32 theStartPhase);
void QTApp_Stop(UInt32 theStopPhase);
Boolean QTApp_HandleEvent(EventRecord* theEvent);
void QTApp_Idle(WindowReference theWindow);
void QTApp_Draw(WindowReference theWindow, Rect* theRefreshArea);
void QTApp_HandleContentClick(WindowReference theWindow, EventRecord* theEvent);
Boolean QTApp_HandleKeyPress(char theCharCode);
Boolean QTApp_HandleMenu(UInt16 theMenuItem);
void QTApp_AdjustMenus(WindowReference theWindow, MenuReference theMenu);
void QTApp_SetupController(MovieController theMC);
void QTApp_SetupWindowObject(WindowObject theWindowObject);
void QTApp_RemoveWindowObject(WindowObject theWindowObject);
Boolean QTApp_MCActionFilterProc(MovieController theMC, short theAction, void* theParams,
                                 long theRefCon);

// Apple events
void QTApp_InstallAppleEventHandlers(void);
OSErr QTApp_HandleOpenApplicationAppleEvent(const AppleEvent* theMessage, AppleEvent* theReply,
                                            unsigned long theRefcon);
OSErr QTApp_HandleOpenDocumentAppleEvent(const AppleEvent* theMessage, AppleEvent* theReply,
                                         unsigned long theRefcon);
OSErr QTApp_HandlePrintDocumentAppleEvent(const AppleEvent* theMessage, AppleEvent* theReply,
                                          unsigned long theRefcon);
OSErr QTApp_HandleQuitApplicationAppleEvent(const AppleEvent* theMessage, AppleEvent* theReply,
                                            unsigned long theRefcon);
