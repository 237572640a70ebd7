// Movie utilities: platform capability queries, controller bar and buttons, movie, track and
// media queries, movie user data, files, strings, screens and preferences.
#include "QTUtilities.h"

// Controller flag that addresses the explicit-flags set in mcActionGetFlags/SetFlags.
static const long kQTUtilsExplicitFlagSet = (long)0x80000000UL;

// The top bit is set in the value passed, for a read as well as for a write.
static long QTUtils_ExplicitFlagsRequest(long theFlags) {
  return (long)(((unsigned long)theFlags | 0x80000000UL) & 0xFFFFFFFFUL);
}

static long QTUtils_OrdinaryFlags(long theFlags) {
  return (long)((unsigned long)theFlags & 0x7FFFFFFFUL);
}

//////////
// Platform capability queries
//////////

Boolean QTUtils_IsQuickTimeInstalled(void) {
  SInt32 myAttrs;
  return Gestalt(gestaltQuickTime, &myAttrs) == noErr;
}

Boolean QTUtils_IsQuickTimeCFMInstalled(void) {
  SInt32 myAttrs;
  if (Gestalt(gestaltQuickTimeFeatures, &myAttrs) != noErr) return false;
  if (!(myAttrs & (1L << gestaltPPCQuickTimeLibPresent))) return false;
  // The feature bit alone is not enough: the library's entry point must be bound too.
  return CompressImage != nullptr;
}

long QTUtils_GetQTVersion(void) {
  SInt32 myVersion = 0L;
  if (Gestalt(gestaltQuickTime, &myVersion) == noErr) return (long)myVersion;
  return 0L;
}

static unsigned long QTUtils_GetQTMajorMinor(void) {
  return ((unsigned long)(UInt32)QTUtils_GetQTVersion() >> 16) & 0xFFFF;
}

Boolean QTUtils_HasQuickTimeVideoEffects(void) { return QTUtils_GetQTMajorMinor() > 0x02FF; }

Boolean QTUtils_HasFullScreenSupport(void) { return QTUtils_GetQTMajorMinor() > 0x0208; }

Boolean QTUtils_HasWiredSprites(void) { return QTUtils_GetQTMajorMinor() > 0x02FF; }

Boolean QTUtils_IsQTVRMovie(Movie theMovie) {
  OSType myType = QTUtils_GetControllerType(theMovie);
  return myType == kQTVRQTVRType || myType == kQTVROldPanoType || myType == kQTVROldObjectType;
}

Boolean QTUtils_IsStreamedMovie(Movie theMovie) {
  return GetMovieIndTrackType(theMovie, 1, kQTSStreamMediaType,
                              movieTrackMediaType | movieTrackEnabledOnly) != NULL;
}

//////////
// Controller bar, buttons and controller type
//////////

Boolean QTUtils_IsControllerBarVisible(MovieController theMC) {
  return (Boolean)(MCGetVisible(theMC) != 0);
}

short QTUtils_GetControllerBarHeight(MovieController theMC) {
  Boolean wasAttached = false;
  Rect myRect = {0, 0, 0, 0};

  // While detached, the controller's bounds are the bar alone.
  if (MCIsControllerAttached(theMC) == 1) {
    wasAttached = true;
    MCSetControllerAttached(theMC, false);
  }
  MCGetControllerBoundsRect(theMC, &myRect);
  if (wasAttached) MCSetControllerAttached(theMC, true);
  return (short)(myRect.bottom - myRect.top);
}

void QTUtils_HideControllerBar(MovieController theMC) { MCSetVisible(theMC, false); }

void QTUtils_ShowControllerBar(MovieController theMC) { MCSetVisible(theMC, true); }

void QTUtils_ToggleControllerBar(MovieController theMC) {
  if (QTUtils_IsControllerBarVisible(theMC))
    QTUtils_HideControllerBar(theMC);
  else
    QTUtils_ShowControllerBar(theMC);
}

void QTUtils_PutControllerBarOnTop(MovieController theMC) {
  Rect myMCRect;
  Rect myMovieRect;

  if (theMC == NULL) return;
  if (MCIsControllerAttached(theMC) != 1) return;

  MCGetControllerBoundsRect(theMC, &myMCRect);
  myMovieRect = myMCRect;
  myMCRect.bottom = (short)(myMCRect.top + QTUtils_GetControllerBarHeight(theMC));
  myMovieRect.top = (short)(myMCRect.bottom + 1);

  MCSetControllerAttached(theMC, false);
  MCPositionController(theMC, &myMovieRect, &myMCRect, 0L);
}

void QTUtils_HideControllerButton(MovieController theMC, long theButton) {
  long myControllerFlags;

  if (theButton == kQTUtilsCustomButton) {
    myControllerFlags = 0L;
    MCDoAction(theMC, mcActionGetFlags, &myControllerFlags);
    MCDoAction(theMC, mcActionSetFlags,
               (void*)(QTUtils_OrdinaryFlags(myControllerFlags) & ~kQTUtilsCustomButton));
    return;
  }

  // Mark the element as set explicitly, so the controller keeps its own hands off it...
  myControllerFlags = kQTUtilsExplicitFlagSet;
  MCDoAction(theMC, mcActionGetFlags, &myControllerFlags);
  MCDoAction(theMC, mcActionSetFlags,
             (void*)QTUtils_ExplicitFlagsRequest(myControllerFlags | theButton));

  // ...then hide it.
  myControllerFlags = 0L;
  MCDoAction(theMC, mcActionGetFlags, &myControllerFlags);
  MCDoAction(theMC, mcActionSetFlags, (void*)QTUtils_OrdinaryFlags(myControllerFlags | theButton));
}

void QTUtils_ShowControllerButton(MovieController theMC, long theButton) {
  long myControllerFlags;

  if (theButton == kQTUtilsCustomButton) {
    myControllerFlags = 0L;
    MCDoAction(theMC, mcActionGetFlags, &myControllerFlags);
    MCDoAction(theMC, mcActionSetFlags,
               (void*)(QTUtils_OrdinaryFlags(myControllerFlags) | kQTUtilsCustomButton));
    return;
  }

  myControllerFlags = kQTUtilsExplicitFlagSet;
  MCDoAction(theMC, mcActionGetFlags, &myControllerFlags);
  MCDoAction(theMC, mcActionSetFlags,
             (void*)QTUtils_ExplicitFlagsRequest(myControllerFlags | theButton));

  myControllerFlags = 0L;
  MCDoAction(theMC, mcActionGetFlags, &myControllerFlags);
  MCDoAction(theMC, mcActionSetFlags, (void*)QTUtils_OrdinaryFlags(myControllerFlags & ~theButton));
}

void QTUtils_ToggleControllerButton(MovieController theMC, long theButton) {
  if (QTUtils_IsControllerButtonVisible(theMC, theButton))
    QTUtils_HideControllerButton(theMC, theButton);
  else
    QTUtils_ShowControllerButton(theMC, theButton);
}

void QTUtils_ResetControllerButton(MovieController theMC, long theButton) {
  long myControllerFlags = kQTUtilsExplicitFlagSet;

  MCDoAction(theMC, mcActionGetFlags, &myControllerFlags);
  MCDoAction(theMC, mcActionSetFlags, (void*)QTUtils_OrdinaryFlags(myControllerFlags | theButton));
}

Boolean QTUtils_IsControllerButtonVisible(MovieController theMC, long theButton) {
  long myControllerFlags = 0L;

  MCDoAction(theMC, mcActionGetFlags, &myControllerFlags);

  // A silent movie shows no speaker button unless the button was set explicitly.
  if (theButton == kQTUtilsSpeakerButton) {
    long myExplicitFlags = kQTUtilsExplicitFlagSet;
    MCDoAction(theMC, mcActionGetFlags, &myExplicitFlags);
    if (!QTUtils_MovieHasSoundTrack(MCGetIndMovie(theMC, 0)) &&
        !(myExplicitFlags & kQTUtilsSpeakerButton))
      return false;
  }

  if (theButton == kQTUtilsCustomButton) return (Boolean)((myControllerFlags & theButton) != 0);
  return (Boolean)((myControllerFlags & theButton) == 0);
}

OSType QTUtils_GetControllerType(Movie theMovie) {
  UserData myUserData = NULL;
  OSType myType = kUnknownType;

  if (theMovie == NULL) return myType;
  myUserData = GetMovieUserData(theMovie);
  if (myUserData != NULL) {
    OSType myStored;
    if (GetUserDataItem(myUserData, &myStored, sizeof(myStored), kUserDataMovieControllerType, 0) ==
        noErr)
      myType = EndianU32_BtoN(myStored);
  }
  return myType;
}

OSErr QTUtils_SetControllerType(Movie theMovie, OSType theType) {
  UserData myUserData = NULL;

  if (theMovie == NULL) return paramErr;
  myUserData = GetMovieUserData(theMovie);
  if (myUserData == NULL) return paramErr;
  theType = EndianU32_NtoB(theType);
  return SetUserDataItem(myUserData, &theType, sizeof(theType), kUserDataMovieControllerType, 0);
}

MovieController QTUtils_ChangeControllerType(MovieController theMC, OSType theType, long theFlags) {
  MovieController myMC = NULL;
  Movie myMovie = NULL;
  Rect myRect;

  if (theMC == NULL) return NULL;
  myMovie = MCGetIndMovie(theMC, 0);
  if (myMovie == NULL) return NULL;

  GetMovieBox(myMovie, &myRect);
  if (QTUtils_SetControllerType(myMovie, theType) != noErr) return NULL;

  DisposeMovieController(theMC);
  myMC = NewMovieController(myMovie, &myRect, theFlags);
  return myMC;
}

//////////
// Movie, track and media queries and edits
//////////

Boolean QTUtils_IsMediaTypeInMovie(Movie theMovie, OSType theMediaType) {
  return GetMovieIndTrackType(theMovie, 1, theMediaType,
                              movieTrackMediaType | movieTrackEnabledOnly) != NULL;
}

Boolean QTUtils_MovieHasTimeCodeTrack(Movie theMovie) {
  return GetMovieIndTrackType(theMovie, 1, TimeCodeMediaType, movieTrackMediaType) != NULL;
}

Boolean QTUtils_MovieHasSoundTrack(Movie theMovie) {
  return GetMovieIndTrackType(theMovie, 1, AudioMediaCharacteristic,
                              movieTrackCharacteristic | movieTrackEnabledOnly) != NULL;
}

MediaHandler QTUtils_GetSoundMediaHandler(Movie theMovie) {
  Track myTrack = GetMovieIndTrackType(theMovie, 1, AudioMediaCharacteristic,
                                       movieTrackCharacteristic | movieTrackEnabledOnly);
  if (myTrack == NULL) return NULL;
  Media myMedia = GetTrackMedia(myTrack);
  return GetMediaHandler(myMedia);
}

OSErr QTUtils_UpdateMovieVolumeSetting(Movie theMovie) {
  short myPrefVolume = GetMoviePreferredVolume(theMovie);
  short myCurrVolume = GetMovieVolume(theMovie);

  // A muted movie keeps a negative volume; the saved one is always its magnitude.
  myCurrVolume = (short)(myCurrVolume < 0 ? -myCurrVolume : myCurrVolume);
  if (myPrefVolume == myCurrVolume) return noErr;
  SetMoviePreferredVolume(theMovie, myCurrVolume);
  return GetMoviesError();
}

OSErr QTUtils_SelectAllMovie(MovieController theMC) {
  TimeRecord myTimeRecord;
  Movie myMovie = NULL;
  ComponentResult myErr;

  if (theMC == NULL) return paramErr;
  myMovie = MCGetIndMovie(theMC, 0);
  if (myMovie == NULL) return paramErr;

  myTimeRecord.value.hi = 0;
  myTimeRecord.value.lo = 0;
  myTimeRecord.base = 0;
  myTimeRecord.scale = GetMovieTimeScale(myMovie);
  myErr = MCDoAction(theMC, mcActionSetSelectionBegin, &myTimeRecord);
  if (myErr != noErr) return (OSErr)myErr;

  myTimeRecord.value.hi = 0;
  myTimeRecord.value.lo = (UInt32)GetMovieDuration(myMovie);
  myTimeRecord.base = 0;
  myTimeRecord.scale = GetMovieTimeScale(myMovie);
  myErr = MCDoAction(theMC, mcActionSetSelectionDuration, &myTimeRecord);
  return (OSErr)myErr;
}

OSErr QTUtils_SelectNoneMovie(MovieController theMC) {
  TimeRecord myTimeRecord;
  Movie myMovie = NULL;

  if (theMC == NULL) return paramErr;
  myMovie = MCGetIndMovie(theMC, 0);
  if (myMovie == NULL) return paramErr;

  myTimeRecord.value.hi = 0;
  myTimeRecord.value.lo = 0;
  myTimeRecord.base = 0;
  myTimeRecord.scale = GetMovieTimeScale(myMovie);
  return (OSErr)MCDoAction(theMC, mcActionSetSelectionDuration, &myTimeRecord);
}

ImageDescriptionHandle QTUtils_MakeSampleDescription(long theEffectType, short theWidth,
                                                     short theHeight) {
  ImageDescriptionHandle mySampleDesc =
      (ImageDescriptionHandle)NewHandleClear(sizeof(ImageDescription));
  if (mySampleDesc == NULL) return NULL;

  (**mySampleDesc).idSize = sizeof(ImageDescription);
  (**mySampleDesc).cType = (CodecType)theEffectType;
  (**mySampleDesc).dataRefIndex = 0;
  (**mySampleDesc).version = 0;
  (**mySampleDesc).revisionLevel = 0;
  (**mySampleDesc).vendor = (SInt32)'appl';
  (**mySampleDesc).temporalQuality = codecNormalQuality;
  (**mySampleDesc).spatialQuality = codecNormalQuality;
  (**mySampleDesc).width = theWidth;
  (**mySampleDesc).height = theHeight;
  (**mySampleDesc).hRes = 72L << 16;
  (**mySampleDesc).vRes = 72L << 16;
  (**mySampleDesc).dataSize = 0L;
  (**mySampleDesc).frameCount = 1;
  (**mySampleDesc).name[0] = 0;
  (**mySampleDesc).depth = 24;
  (**mySampleDesc).clutID = -1;
  return mySampleDesc;
}

char* QTUtils_GetTrackName(Track theTrack) {
  UserData myUserData = NULL;
  char* myString = NULL;
  Handle myHandle = NULL;

  if (theTrack == NULL) return NULL;
  myUserData = GetTrackUserData(theTrack);
  if (myUserData == NULL) return NULL;

  myHandle = NewHandle(0);
  if (myHandle == NULL) return NULL;
  if (GetUserData(myUserData, myHandle, kUserDataName, 1) == noErr) {
    long myLength = GetHandleSize(myHandle);
    if (myLength > 0) {
      myString = (char*)malloc((size_t)myLength + 1);
      if (myString != NULL) {
        memcpy(myString, *myHandle, (size_t)myLength);
        myString[myLength] = '\0';
      }
    }
  }
  DisposeHandle(myHandle);
  return myString;
}

OSErr QTUtils_SetTrackName(Track theTrack, char* theText) {
  UserData myUserData = NULL;

  if (theTrack == NULL || theText == NULL) return paramErr;
  myUserData = GetTrackUserData(theTrack);
  if (myUserData == NULL) return paramErr;

  while (RemoveUserData(myUserData, kUserDataName, 1) == noErr) {
  }
  return SetUserDataItem(myUserData, theText, (UInt32)strlen(theText), kUserDataName, 0);
}

char* QTUtils_MakeTrackNameByType(Track theTrack) {
  Media myMedia = NULL;
  MediaHandler myHandler = NULL;
  OSType myMediaType = 0L;
  Str255 myName;
  char* myString = NULL;

  if (theTrack == NULL) return NULL;
  myMedia = GetTrackMedia(theTrack);
  if (myMedia == NULL) return NULL;

  myHandler = GetMediaHandler(myMedia);
  GetMediaHandlerDescription(myMedia, &myMediaType, NULL, NULL);
  myName[0] = 0;
  if (MediaGetName(myHandler, myName, 0, NULL) != noErr) return NULL;

  Movie myMovie = GetTrackMovie(theTrack);
  if (GetMovieIndTrackType(myMovie, 2, myMediaType, movieTrackMediaType) != NULL) {
    long myIndex = 1;
    Str255 myNumber;
    Track myTrack;
    while ((myTrack = GetMovieIndTrackType(myMovie, myIndex, myMediaType, movieTrackMediaType)) !=
               theTrack &&
           myTrack != NULL)
      myIndex++;
    NumToString(myIndex, myNumber);
    // Append " N", shortening the handler's name if needed so the string never overflows.
    int myRoom = 255 - 1 - myNumber[0];
    if (myName[0] > myRoom) myName[0] = (unsigned char)myRoom;
    myName[++myName[0]] = ' ';
    memcpy(&myName[myName[0] + 1], &myNumber[1], myNumber[0]);
    myName[0] = (unsigned char)(myName[0] + myNumber[0]);
  }

  if (myName[0] > 0) {
    myString = (char*)malloc((size_t)myName[0] + 1);
    if (myString != NULL) {
      memcpy(myString, &myName[1], myName[0]);
      myString[myName[0]] = '\0';
    }
  }
  return myString;
}

OSErr QTUtils_DeleteAllReferencesToTrack(Track theTrack) {
  Movie myMovie = NULL;
  OSErr myErr = noErr;

  myMovie = GetTrackMovie(theTrack);
  if (myMovie == NULL) return paramErr;

  long myTrackCount = GetMovieTrackCount(myMovie);
  for (long myTrackIndex = 1; myTrackIndex <= myTrackCount; myTrackIndex++) {
    Track myTrack = GetMovieIndTrack(myMovie, myTrackIndex);
    if (myTrack == NULL || myTrack == theTrack) continue;

    OSType myRefType = GetNextTrackReferenceType(myTrack, 0L);
    while (myRefType != 0L) {
      // Downwards, so deleting a reference keeps the lower indexes valid.
      long myRefCount = GetTrackReferenceCount(myTrack, myRefType);
      for (long myRefIndex = myRefCount; myRefIndex >= 1; myRefIndex--) {
        if (GetTrackReference(myTrack, myRefType, myRefIndex) == theTrack)
          myErr = DeleteTrackReference(myTrack, myRefType, myRefIndex);
      }
      myRefType = GetNextTrackReferenceType(myTrack, myRefType);
    }
  }
  return myErr;
}

TimeValue QTUtils_GetFrameDuration(Track theTrack) {
  TimeValue myDuration = 0;
  Media myMedia = GetTrackMedia(theTrack);

  if (GetMediaSample(myMedia, NULL, 0, NULL, 0, NULL, &myDuration, NULL, NULL, 0, NULL, NULL) !=
      noErr)
    return 0;
  return myDuration;
}

long QTUtils_GetFrameCount(Track theTrack) {
  long myCount = -1;
  short myFlags;
  TimeValue myTime = 0;

  if (theTrack == NULL) return myCount;

  // The first step finds the first sample at or after time 0; later steps move one frame.
  myFlags = nextTimeMediaSample + nextTimeEdgeOK;
  while (myTime >= 0) {
    myCount++;
    GetTrackNextInterestingTime(theTrack, myFlags, myTime, fixed1, &myTime, NULL);
    myFlags = nextTimeStep;
  }
  return myCount;
}

//////////
// Movie user data
//////////

OSErr QTUtils_GetMovieFileLoopingInfo(Movie theMovie, long* theLoopInfo) {
  UserData myUserData = NULL;
  long myInfo = kNoLooping;
  OSErr myErr = paramErr;

  if (theMovie != NULL) {
    myUserData = GetMovieUserData(theMovie);
    if (myUserData != NULL) {
      SInt32 myStored;
      myErr = GetUserDataItem(myUserData, &myStored, sizeof(myStored), 'LOOP', 0);
      if (myErr == noErr) myInfo = EndianS32_BtoN(myStored);
    }
  }
  *theLoopInfo = myInfo;
  return myErr;
}

OSErr QTUtils_SetMovieFileLoopingInfo(Movie theMovie, long theLoopInfo) {
  UserData myUserData = NULL;
  short myCount = 0;

  myUserData = GetMovieUserData(theMovie);
  if (myUserData == NULL) return paramErr;

  myCount = CountUserDataType(myUserData, 'LOOP');
  while (myCount--) RemoveUserData(myUserData, 'LOOP', 1);

  if (theLoopInfo == kNormalLooping || theLoopInfo == kPalindromeLooping) {
    SInt32 myStored = EndianS32_NtoB((SInt32)theLoopInfo);
    return SetUserDataItem(myUserData, &myStored, sizeof(myStored), 'LOOP', 0);
  }
  return noErr;
}

OSErr QTUtils_SetLoopingStateFromFile(Movie theMovie, MovieController theMC) {
  long myLoopInfo;
  OSErr myErr = QTUtils_GetMovieFileLoopingInfo(theMovie, &myLoopInfo);

  switch (myLoopInfo) {
    case kNormalLooping:
      MCDoAction(theMC, mcActionSetLooping, (void*)true);
      MCDoAction(theMC, mcActionSetLoopIsPalindrome, (void*)false);
      break;
    case kPalindromeLooping:
      MCDoAction(theMC, mcActionSetLooping, (void*)true);
      MCDoAction(theMC, mcActionSetLoopIsPalindrome, (void*)true);
      break;
    case kNoLooping:
    default:
      MCDoAction(theMC, mcActionSetLooping, (void*)false);
      MCDoAction(theMC, mcActionSetLoopIsPalindrome, (void*)false);
      break;
  }
  return myErr;
}

OSErr QTUtils_MakeMovieLoop(Movie theMovie, Boolean isPalindrome) {
  TimeBase myTimeBase = NULL;
  long myFlags = 0L;

  if (theMovie == NULL) return paramErr;

  SetMoviePlayHints(theMovie, hintsLoop, hintsLoop);
  myTimeBase = GetMovieTimeBase(theMovie);
  myFlags = GetTimeBaseFlags(myTimeBase);
  myFlags |= loopTimeBase;
  if (isPalindrome)
    myFlags |= palindromeLoopTimeBase;
  else
    myFlags &= ~palindromeLoopTimeBase;
  SetTimeBaseFlags(myTimeBase, myFlags);
  return noErr;
}

OSErr QTUtils_GetWindowPositionFromFile(Movie theMovie, Point* thePoint) {
  UserData myUserData = NULL;
  Point myPoint = {50, 50};
  OSErr myErr = paramErr;

  if (theMovie != NULL) {
    myUserData = GetMovieUserData(theMovie);
    if (myUserData != NULL) {
      SInt16 myStored[2];
      myErr = GetUserDataItem(myUserData, myStored, sizeof(myStored), 'WLOC', 0);
      if (myErr == noErr) {
        myPoint.v = EndianS16_BtoN(myStored[0]);
        myPoint.h = EndianS16_BtoN(myStored[1]);
      }
    }
  }
  *thePoint = myPoint;
  return myErr;
}

OSErr QTUtils_AddUserDataTextToMovie(Movie theMovie, char* theText, OSType theType) {
  UserData myUserData = NULL;
  Handle myHandle = NULL;
  long myLength = (long)strlen(theText);
  OSErr myErr = noErr;

  myUserData = GetMovieUserData(theMovie);
  if (myUserData == NULL) return paramErr;

  myHandle = NewHandleClear(myLength);
  if (myHandle == NULL) return MemError();

  BlockMoveData(theText, *myHandle, myLength);
  myErr = AddUserDataText(myUserData, myHandle, theType, 1, (short)-1);
  DisposeHandle(myHandle);
  return myErr;
}

OSErr QTUtils_AddCopyrightToMovie(Movie theMovie, char* theText) {
  return QTUtils_AddUserDataTextToMovie(theMovie, theText, kUserDataTextCopyright);
}

OSErr QTUtils_AddMovieNameToMovie(Movie theMovie, char* theText) {
  return QTUtils_AddUserDataTextToMovie(theMovie, theText, kUserDataTextFullName);
}

OSErr QTUtils_AddMovieInfoToMovie(Movie theMovie, char* theText) {
  return QTUtils_AddUserDataTextToMovie(theMovie, theText, kUserDataTextInformation);
}

//////////
// Files, strings, screens and preferences
//////////

Boolean QTUtils_IsImageFile(FSSpec* theFSSpec) {
  GraphicsImportComponent myImporter = NULL;

  GetGraphicsImporterForFile(theFSSpec, &myImporter);
  if (myImporter != NULL) CloseComponent(myImporter);
  return myImporter != NULL;
}

Boolean QTUtils_IsMovieFile(FSSpec* theFSSpec) {
  AliasHandle myAlias = NULL;
  Component myImporter = NULL;
  FInfo myFinderInfo;
  OSErr myErr = noErr;

  myErr = FSpGetFInfo(theFSSpec, &myFinderInfo);
  if (myErr == noErr && myFinderInfo.fdType == kQTFileTypeMovie) return true;

  // Not typed as a movie: a movie importer (not a graphics importer) may still accept it.
  myErr = QTNewAlias(theFSSpec, &myAlias, true);
  if (myErr == noErr && myAlias != NULL) {
    myErr = GetMovieImporterForDataRef(rAliasType, (Handle)myAlias,
                                       kGetMovieImporterDontConsiderGraphicsImporters, &myImporter);
    DisposeHandle((Handle)myAlias);
    return myErr == noErr && myImporter != NULL;
  }
  return false;
}

void QTUtils_ConvertFloatToBigEndian(float* theFloat) {
  UInt32* myLongPtr = (UInt32*)theFloat;
  *myLongPtr = EndianU32_NtoB(*myLongPtr);
}

StringPtr QTUtils_ConvertCToPascalString(char* theString) {
  StringPtr myString = (StringPtr)malloc(strlen(theString) + 1);
  short myIndex = 0;

  if (myString == NULL) return NULL;
  // A length byte holds at most 255; longer input is cut there rather than wrapping around.
  while (theString[myIndex] != '\0' && myIndex < 255) {
    myString[myIndex + 1] = (unsigned char)theString[myIndex];
    myIndex++;
  }
  myString[0] = (unsigned char)myIndex;
  return myString;
}

char* QTUtils_ConvertPascalToCString(StringPtr theString) {
  char* myString = (char*)malloc((size_t)theString[0] + 1);
  short myIndex = 0;

  if (myString == NULL) return NULL;
  for (myIndex = 0; myIndex < theString[0]; myIndex++)
    myString[myIndex] = (char)theString[myIndex + 1];
  myString[theString[0]] = '\0';
  return myString;
}

void QTUtils_GetMaxWindowDepth(WindowPtr theWindow, short* thePixelType, short* thePixelSize) {
  Rect myRect;
  Point myPoint = {0, 0};

  *thePixelType = 1;
  *thePixelSize = 0;
  if (theWindow == NULL) return;

  GetWindowPortBounds(theWindow, &myRect);
  LocalToGlobal(&myPoint);
  OffsetRect(&myRect, myPoint.h, myPoint.v);
  QTUtils_GetMaxScreenDepth(&myRect, thePixelType, thePixelSize);
}

void QTUtils_GetMaxScreenDepth(Rect* theGlobalRect, short* thePixelType, short* thePixelSize) {
  GDHandle myGDevice = GetMaxDevice(theGlobalRect);
  if (myGDevice != NULL) {
    PixMapHandle myPixMap = (**myGDevice).gdPMap;
    if (myPixMap != NULL) {
      *thePixelType = (**myPixMap).pixelType;
      *thePixelSize = (**myPixMap).pixelSize;
    }
  }
}

long QTUtils_GetUsersConnectionSpeed(void) {
  QTAtomContainer myPrefsContainer = NULL;
  QTAtom myPrefsAtom = 0;
  long mySpeed = 0L;
  long myDataSize = 0L;
  Ptr myAtomData = NULL;

  if (GetQuickTimePreference(ConnectionSpeedPrefsType, &myPrefsContainer) != noErr) return 0L;

  myPrefsAtom =
      QTFindChildByID(myPrefsContainer, kParentAtomIsContainer, ConnectionSpeedPrefsType, 1, NULL);
  if (myPrefsAtom == 0) {
    mySpeed = kDataRate288ModemRate;
  } else {
    QTLockContainer(myPrefsContainer);
    QTGetAtomDataPtr(myPrefsContainer, myPrefsAtom, &myDataSize, &myAtomData);
    if (myAtomData != NULL && myDataSize == (long)sizeof(ConnectionSpeedPrefsRecord)) {
      SInt32 myStored;
      memcpy(&myStored, myAtomData, sizeof(myStored));
      mySpeed = EndianS32_BtoN(myStored);
    } else {
      mySpeed = kDataRate288ModemRate;
    }
    QTUnlockContainer(myPrefsContainer);
  }
  QTDisposeAtomContainer(myPrefsContainer);
  return mySpeed;
}

OSErr QTUtils_SetUsersConnectionSpeed(long theSpeed) {
  QTAtomContainer myPrefsContainer = NULL;
  ConnectionSpeedPrefsRecord myPrefsRec;
  OSErr myErr = noErr;

  myErr = QTNewAtomContainer(&myPrefsContainer);
  if (myErr != noErr) return myErr;

  myPrefsRec.connectionSpeed = EndianS32_NtoB((SInt32)theSpeed);
  myErr = QTInsertChild(myPrefsContainer, kParentAtomIsContainer, ConnectionSpeedPrefsType, 1, 0,
                        sizeof(myPrefsRec), &myPrefsRec, NULL);
  if (myErr == noErr) myErr = SetQuickTimePreference(ConnectionSpeedPrefsType, myPrefsContainer);

  QTDisposeAtomContainer(myPrefsContainer);
  return myErr;
}
