// Apple Event Manager: descriptors, lists, events and their handlers.
#pragma once
#include "AEDataModel.h"
#include "Events.h"
#include "Files.h"
#include "MacErrors.h"
#include "MacTypes.h"

// Descriptor types.
enum {
  typeNull = 'null',
  typeWildCard = '****',
  typeAEList = 'list',
  typeAERecord = 'reco',
  typeAppleEvent = 'aevt',
  typeFSS = 'fss ',
  typeFSRef = 'fsrf',
  typeFileURL = 'furl',
  typeChar = 'TEXT',
  typeUTF8Text = 'utf8',
  typeSInt16 = 'shor',
  typeSInt32 = 'long',
  typeBoolean = 'bool',
  typeTrue = 'true',
  typeFalse = 'fals',
  typeType = 'type',
  typeEnumerated = 'enum',
  typeKeyword = 'keyw',
  typeProcessSerialNumber = 'psn ',
  typeKernelProcessID = 'kpid',
};

// Events of the required suite.
enum {
  kCoreEventClass = 'aevt',
  kAEOpenApplication = 'oapp',
  kAEOpenDocuments = 'odoc',
  kAEPrintDocuments = 'pdoc',
  kAEQuitApplication = 'quit',
  kAEAnswer = 'ansr',
  kAEReopenApplication = 'rapp',
};

// Keywords.
enum {
  keyDirectObject = '----',
  keyErrorNumber = 'errn',
  keyErrorString = 'errs',
  keyEventClassAttr = 'evcl',
  keyEventIDAttr = 'evid',
  keyAddressAttr = 'addr',
  keyReturnIDAttr = 'rtid',
  keyTransactionIDAttr = 'tran',
  keyMissedKeywordAttr = 'miss',
};

enum { kAutoGenerateReturnID = -1, kAnyTransactionID = 0 };

typedef AEDesc AEAddressDesc;
typedef SInt16 AEReturnID;
typedef SInt32 AETransactionID;

typedef OSErr (*AEEventHandlerProcPtr)(const AppleEvent* theAppleEvent, AppleEvent* reply,
                                       unsigned long handlerRefcon);
typedef AEEventHandlerProcPtr AEEventHandlerUPP;

// Descriptors. A descriptor's data lives in a memory-manager handle; AEDisposeDesc frees it and
// sets the descriptor to typeNull with a null handle.
OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result);
OSErr AEDisposeDesc(AEDesc* theAEDesc);
OSErr AEDuplicateDesc(const AEDesc* theAEDesc, AEDesc* result);
void AEInitializeDesc(AEDesc* desc);
Size AEGetDescDataSize(const AEDesc* theAEDesc);
OSErr AEGetDescData(const AEDesc* theAEDesc, void* dataPtr, Size maximumSize);
// Coerces a descriptor to another type (see AEGetNthPtr for what coerces).
OSErr AECoerceDesc(const AEDesc* theAEDesc, DescType toType, AEDesc* result);

// Lists (and records, whose items carry keywords).
OSErr AECreateList(const void* factoringPtr, Size factoredSize, Boolean isRecord,
                   AEDescList* resultList);
OSErr AECountItems(const AEDescList* theAEDescList, long* theCount);
// index 0 or count + 1 appends; 1..count replaces that item.
OSErr AEPutPtr(AEDescList* theAEDescList, long index, DescType typeCode, const void* dataPtr,
               Size dataSize);
OSErr AEPutDesc(AEDescList* theAEDescList, long index, const AEDesc* theAEDesc);
// Item `index` (1-based) coerced to desiredType (typeWildCard: as stored). File items
// (typeFSS, typeFileURL, typeChar/typeUTF8Text paths) coerce into each other; typeSInt16 and
// typeSInt32 coerce when the value fits. Copies at most maximumSize bytes; *actualSize is the
// item's full size. errAEIllegalIndex for a bad index, errAECoercionFail when the item cannot
// become desiredType, errAEWrongDataType when the descriptor is not a list.
OSErr AEGetNthPtr(const AEDescList* theAEDescList, long index, DescType desiredType,
                  AEKeyword* theAEKeyword, DescType* typeCode, void* dataPtr, Size maximumSize,
                  Size* actualSize);
OSErr AEGetNthDesc(const AEDescList* theAEDescList, long index, DescType desiredType,
                   AEKeyword* theAEKeyword, AEDesc* result);
OSErr AEDeleteItem(AEDescList* theAEDescList, long index);

// Events.
OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID,
                         const AEAddressDesc* target, AEReturnID returnID,
                         AETransactionID transactionID, AppleEvent* result);
// A parameter coerced to desiredType; typeAEList wraps a single item in a one-item list.
// errAEDescNotFound when the event has no such parameter.
OSErr AEGetParamDesc(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                     AEDesc* result);
OSErr AEGetParamPtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType* typeCode, void* dataPtr, Size maximumSize, Size* actualSize);
OSErr AEPutParamDesc(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, const AEDesc* theAEDesc);
OSErr AEPutParamPtr(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                    const void* dataPtr, Size dataSize);
OSErr AEDeleteParam(AppleEvent* theAppleEvent, AEKeyword theAEKeyword);
// Attributes: keyEventClassAttr and keyEventIDAttr (typeType), keyReturnIDAttr (typeSInt16),
// keyTransactionIDAttr (typeSInt32).
OSErr AEGetAttributePtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword,
                        DescType desiredType, DescType* typeCode, void* dataPtr, Size maximumSize,
                        Size* actualSize);

// Handlers. Application handlers are looked up before system handlers; a handler installed
// for typeWildCard class or ID matches any.
AEEventHandlerUPP NewAEEventHandlerUPP(AEEventHandlerProcPtr userRoutine);
void DisposeAEEventHandlerUPP(AEEventHandlerUPP userUPP);
OSErr AEInstallEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                            AEEventHandlerUPP handler, SRefCon handlerRefcon, Boolean isSysHandler);
OSErr AERemoveEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                           AEEventHandlerUPP handler, Boolean isSysHandler);
OSErr AEGetEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                        AEEventHandlerUPP* handler, SRefCon* handlerRefcon, Boolean isSysHandler);
// Handles the high-level event that the event queue delivered: calls the installed handler
// with the event, a reply and the refcon, and answers the handler's result.
// errAENotAppleEvent for another kind of event or none pending; errAEEventNotHandled when no
// handler is installed for the event.
OSErr AEProcessAppleEvent(const EventRecord* theEventRecord);

// Vantrel additions for automation and tests: queue the required events as the system would
// send them, and read what the application's handler answered.
OSErr VTAEPostOpenApplication();
OSErr VTAEPostOpenDocuments(const char* const* paths, long count);
OSErr VTAEPostPrintDocuments(const char* const* paths, long count);
OSErr VTAEPostQuitApplication();
// Queues a copy of a ready event.
OSErr VTAEPostAppleEvent(const AppleEvent* theAppleEvent);
// Result of the handler of the most recently processed event (errAEEventNotHandled when it
// had none); noErr before the first.
OSErr VTAELastHandlerResult();
