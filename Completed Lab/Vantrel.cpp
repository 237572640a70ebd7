// The effect movie maker: asks for up to two source movies, runs the standard effects
// parameter dialog on them, and writes the effect movie the user confirmed.
#include "Vantrel.h"

#include "ComFramework.h"
#include "QTUtilities.h"

// Effect job state. One job at a time: from opening the sources to the end of construction.
QTParameterDialog gEffectsDialog = 0L;
QTAtomContainer gEffectSample = NULL;
QTAtomContainer gEffectList = NULL;
PicHandle gPosterA = NULL;
PicHandle gPosterB = NULL;
Movie gSrcMovies[2] = {NULL, NULL};
Track gSrcTracks[2] = {NULL, NULL};
UInt16 gSpecCount = 0;
Boolean gCopyMovieMedia = false;

static const TimeScale kEffectMinTimeScale = 600;
static const long kEffectSecondsWithoutSources = 10;
static const Fixed kEffectDefaultWidth = 160L << 16;
static const Fixed kEffectDefaultHeight = 120L << 16;

//////////
// Effect selection
//////////

void QTEffects_PromptUserForFilesAndMakeEffect(void) {
  FSSpec mySpecList[2];
  UInt16 mySpecCount = 0;
  QTFrameFileFilterUPP myFileFilterUPP = NULL;

  myFileFilterUPP = QTFrame_GetFileFilterUPP(
      reinterpret_cast<ProcPtr>(reinterpret_cast<void (*)(void)>(QTFrame_FilterFiles)));

  // No type list: the filter alone decides which files are offered. A cancel stops asking.
  while (mySpecCount < 2) {
    OSErr myErr = QTFrame_GetOneFileWithPreview(0, NULL, &mySpecList[mySpecCount], myFileFilterUPP);
    if (myErr != noErr) break;
    mySpecCount++;
  }

  QTEffects_DisplayDialogForSources(mySpecList, mySpecCount);

  if (myFileFilterUPP != NULL) DisposeNavObjectFilterUPP(myFileFilterUPP);
}

// Releases whatever a failed start of a job holds, so nothing is left behind.
static void QTEffects_ReleaseJobSources(UInt16 theCount) {
  for (UInt16 myIndex = 0; myIndex < theCount && myIndex < 2; myIndex++) {
    if (gSrcMovies[myIndex] != NULL) DisposeMovie(gSrcMovies[myIndex]);
    gSrcMovies[myIndex] = NULL;
    gSrcTracks[myIndex] = NULL;
  }
  if (gEffectSample != NULL) QTDisposeAtomContainer(gEffectSample);
  gEffectSample = NULL;
  if (gEffectList != NULL) QTDisposeAtomContainer(gEffectList);
  gEffectList = NULL;
}

OSErr QTEffects_DisplayDialogForSources(FSSpec* theSpecList, UInt16 theSpecCount) {
  OSErr myErr = noErr;
  UInt16 myOpened = 0;

  if (theSpecCount > 2) return paramErr;

  gSpecCount = theSpecCount;

  for (UInt16 myIndex = 0; myIndex < theSpecCount; myIndex++) {
    short myRefNum = -1;

    gSrcMovies[myIndex] = NULL;
    gSrcTracks[myIndex] = NULL;
    myErr = OpenMovieFile(&theSpecList[myIndex], &myRefNum, fsCurPerm);
    if (myErr != noErr) goto bail;

    myErr = NewMovieFromFile(&gSrcMovies[myIndex], myRefNum, NULL, NULL, newMovieActive, NULL);
    if (myErr != noErr) {
      CloseMovieFile(myRefNum);
      gSrcMovies[myIndex] = NULL;
      goto bail;
    }
    myOpened = (UInt16)(myIndex + 1);

    SetMoviePlayHints(gSrcMovies[myIndex], hintsHighQuality, hintsHighQuality);
    CloseMovieFile(myRefNum);

    myErr = QTEffects_GetFirstVideoTrackInMovie(gSrcMovies[myIndex], &gSrcTracks[myIndex]);
    if (myErr != noErr) goto bail;
  }

  myErr = QTNewAtomContainer(&gEffectSample);
  if (myErr != noErr) goto bail;

  myErr = QTGetEffectsList(&gEffectList, theSpecCount, theSpecCount, 0L);
  if (myErr != noErr) goto bail;

  myErr = QTCreateStandardParameterDialog(gEffectList, gEffectSample, 0L, &gEffectsDialog);
  if (myErr != noErr) {
    gEffectsDialog = 0L;
    goto bail;
  }

  // Preview pictures, source A first. A source without a picture gets no preview.
  if (theSpecCount >= 1) {
    gPosterA = GetTrackPict(gSrcTracks[0], GetMoviePosterTime(gSrcMovies[0]));
    if (gPosterA != NULL) {
      QTParamPreviewRecord myPreviewRecord;
      myPreviewRecord.sourceID = 1;
      myPreviewRecord.sourcePicture = gPosterA;
      myErr = QTStandardParameterDialogDoAction(gEffectsDialog, pdActionSetPreviewPicture,
                                                &myPreviewRecord);
    }
  }
  if (theSpecCount == 2) {
    gPosterB = GetTrackPict(gSrcTracks[1], GetMoviePosterTime(gSrcMovies[1]));
    if (gPosterB != NULL) {
      QTParamPreviewRecord myPreviewRecord;
      myPreviewRecord.sourceID = 2;
      myPreviewRecord.sourcePicture = gPosterB;
      myErr = QTStandardParameterDialogDoAction(gEffectsDialog, pdActionSetPreviewPicture,
                                                &myPreviewRecord);
    }
  }
  return myErr;

bail:
  QTEffects_ReleaseJobSources(myOpened);
  for (UInt16 myIndex = myOpened; myIndex < theSpecCount; myIndex++) gSrcTracks[myIndex] = NULL;
  return myErr;
}

Boolean QTEffects_HandleEffectsDialogEvents(EventRecord* theEvent, DialogItemIndex theItemHit) {
  OSErr myErr;
  (void)theItemHit;

  myErr = QTIsStandardParameterDialogEvent(theEvent, gEffectsDialog);
  switch (myErr) {
    case codecParameterDialogConfirm:
    case userCanceledErr:
      QTStandardParameterDialogDoAction(gEffectsDialog, pdActionConfirmDialog, NULL);
      QTDismissStandardParameterDialog(gEffectsDialog);
      gEffectsDialog = 0L;
      QTEffects_RespondToDialogSelection(myErr);
      return true;
    case noErr: return true;
    case featureUnsupported: return false;
    default: return true;
  }
}

//////////
// Effect movie construction
//////////

OSErr QTEffects_GetFirstVideoTrackInMovie(Movie theMovie, Track* theTrack) {
  *theTrack = GetMovieIndTrackType(theMovie, 1, kCharacteristicCanSendVideo,
                                   movieTrackCharacteristic | movieTrackEnabledOnly);
  if (*theTrack == NULL) return invalidTrack;
  return noErr;
}

// Adds one input atom (reference index, input type, source name) to an input map.
static void QTEffects_AddInputToMap(QTAtomContainer theInputMap, long theRefIndex,
                                    OSType theSourceName) {
  QTAtom myInputAtom = 0;
  OSType myInputType = EndianU32_NtoB(VideoMediaType);
  OSType mySourceName = EndianU32_NtoB(theSourceName);

  QTInsertChild(theInputMap, kParentAtomIsContainer, kTrackModifierInput, theRefIndex, 0, 0, NULL,
                &myInputAtom);
  QTInsertChild(theInputMap, myInputAtom, kTrackModifierType, 1, 0, sizeof(myInputType),
                &myInputType, NULL);
  QTInsertChild(theInputMap, myInputAtom, kEffectDataSourceType, 1, 0, sizeof(mySourceName),
                &mySourceName, NULL);
}

void QTEffects_RespondToDialogSelection(OSErr theErr) {
  Boolean myDialogWasCancelled = false;
  short myResID = movieInDataForkResID;
  UInt16 myMovieIter;
  short mySrcMovieRefNum = 0;
  Movie myDestMovie = NULL;
  short myResRefNum = -1;
  FSSpec myFile;
  Boolean myIsSelected = false;
  Boolean myIsReplacing = false;
  char myPromptText[] = "Save Effect Movie File As:";
  char myFileText[] = "untitled.mov";
  StringPtr myPrompt = QTUtils_ConvertCToPascalString(myPromptText);
  StringPtr myFileName = QTUtils_ConvertCToPascalString(myFileText);
  QTAtom myEffectAtom = 0;
  QTAtomID myEffectAtomID = 0;
  long myEffectDataSize = 0;
  Ptr myEffectDataPtr = NULL;
  OSType myEffectCode = 0;
  Boolean myContainerLocked = false;
  Track videoTracks[2] = {NULL, NULL};
  Media videoMedia[2] = {NULL, NULL};
  Track videoTrackFX = NULL;
  Media videoMediaFX = NULL;
  Fixed videoTrackFXWidth = kEffectDefaultWidth;
  Fixed videoTrackFXHeight = kEffectDefaultHeight;
  TimeScale myMovieTimeScale = kEffectMinTimeScale;
  TimeValue myEffectDuration = 0;
  TimeValue mySampleTime = 0;
  ImageDescriptionHandle mySampleDesc = NULL;
  QTAtomContainer myInputMap = NULL;
  Boolean mySourcesReleased = false;
  Boolean myIsWritten = false;
  OSErr myErr = noErr;
  (void)mySrcMovieRefNum;

  gEffectsDialog = 0L;
  myDialogWasCancelled = (theErr == userCanceledErr);

  // The effects list and the previews are not needed any more, whatever happens next.
  if (gEffectList != NULL) QTDisposeAtomContainer(gEffectList);
  gEffectList = NULL;
  if (gPosterA != NULL) KillPicture(gPosterA);
  if (gPosterB != NULL) KillPicture(gPosterB);
  gPosterA = NULL;
  gPosterB = NULL;

  if (myDialogWasCancelled) goto bail;
  if (myPrompt == NULL || myFileName == NULL) goto bail;

  // Name the sources in the effect sample.
  if (gSpecCount >= 1) {
    OSType myName = EndianU32_NtoB('srcA');
    QTInsertChild(gEffectSample, kParentAtomIsContainer, kEffectSourceName, 1, 0, sizeof(myName),
                  &myName, NULL);
  }
  if (gSpecCount >= 2) {
    OSType myName = EndianU32_NtoB('srcB');
    QTInsertChild(gEffectSample, kParentAtomIsContainer, kEffectSourceName, 2, 0, sizeof(myName),
                  &myName, NULL);
  }

  // The effect code the dialog chose.
  myEffectAtom = QTFindChildByIndex(gEffectSample, kParentAtomIsContainer, kParameterWhatName, 1,
                                    &myEffectAtomID);
  if (myEffectAtom == 0) goto bail;
  myErr = QTLockContainer(gEffectSample);
  if (myErr != noErr) goto bail;
  myContainerLocked = true;
  myErr = QTGetAtomDataPtr(gEffectSample, myEffectAtom, &myEffectDataSize, &myEffectDataPtr);
  if (myErr != noErr) goto bail;
  if (myEffectDataSize != sizeof(OSType)) {
    myErr = paramErr;
    goto bail;
  }
  memcpy(&myEffectCode, myEffectDataPtr, sizeof(myEffectCode));
  myEffectCode = EndianU32_BtoN(myEffectCode);
  myErr = QTUnlockContainer(gEffectSample);
  myContainerLocked = false;
  if (myErr != noErr) goto bail;

  // The output file; the creation flags take care of replacing an existing file.
  QTFrame_PutFile(myPrompt, myFileName, &myFile, &myIsSelected, &myIsReplacing);
  if (!myIsSelected) goto bail;

  myErr = CreateMovieFile(&myFile, sigMoviePlayer, smSystemScript,
                          createMovieFileDeleteCurFile | createMovieFileDontCreateResFile,
                          &myResRefNum, &myDestMovie);
  if (myErr != noErr) {
    myDestMovie = NULL;
    myResRefNum = -1;
    goto bail;
  }

  if (gSpecCount >= 1) CopyMovieSettings(gSrcMovies[0], myDestMovie);

  // One time scale for all: the sources', if larger than the least one.
  for (myMovieIter = 0; myMovieIter < gSpecCount; myMovieIter++) {
    TimeScale myScale = GetMovieTimeScale(gSrcMovies[myMovieIter]);
    if (myScale > myMovieTimeScale) myMovieTimeScale = myScale;
  }
  for (myMovieIter = 0; myMovieIter < gSpecCount; myMovieIter++) {
    if (GetMovieTimeScale(gSrcMovies[myMovieIter]) != myMovieTimeScale)
      SetMovieTimeScale(gSrcMovies[myMovieIter], myMovieTimeScale);
  }

  // The effect lasts as long as the shortest source track.
  if (gSpecCount == 0) {
    myEffectDuration = kEffectSecondsWithoutSources * myMovieTimeScale;
  } else {
    myEffectDuration = GetTrackDuration(gSrcTracks[0]);
    for (myMovieIter = 1; myMovieIter < gSpecCount; myMovieIter++) {
      TimeValue myDuration = GetTrackDuration(gSrcTracks[myMovieIter]);
      if (myDuration < myEffectDuration) myEffectDuration = myDuration;
    }
  }

  videoTrackFXWidth = kEffectDefaultWidth;
  videoTrackFXHeight = kEffectDefaultHeight;

  // One copy of each source's track, cut to the effect's length.
  for (myMovieIter = 0; myMovieIter < gSpecCount; myMovieIter++) {
    Fixed myWidth = 0;
    Fixed myHeight = 0;
    OSType myMediaType = 0;

    GetTrackDimensions(gSrcTracks[myMovieIter], &myWidth, &myHeight);
    if (myMovieIter == 0) {
      videoTrackFXWidth = myWidth;
      videoTrackFXHeight = myHeight;
    } else {
      if (myWidth > videoTrackFXWidth) videoTrackFXWidth = myWidth;
      if (myHeight > videoTrackFXHeight) videoTrackFXHeight = myHeight;
    }

    GetMediaHandlerDescription(GetTrackMedia(gSrcTracks[myMovieIter]), &myMediaType, NULL, NULL);

    videoTracks[myMovieIter] = NewMovieTrack(myDestMovie, myWidth, myHeight, kNoVolume);
    if (videoTracks[myMovieIter] == NULL) goto bail;
    videoMedia[myMovieIter] =
        NewTrackMedia(videoTracks[myMovieIter], myMediaType, myMovieTimeScale, NULL, 0);
    if (videoMedia[myMovieIter] == NULL) goto bail;

    if (gCopyMovieMedia) {
      myErr = BeginMediaEdits(videoMedia[myMovieIter]);
      if (myErr != noErr) goto bail;
    }
    myErr = CopyTrackSettings(gSrcTracks[myMovieIter], videoTracks[myMovieIter]);
    if (myErr != noErr) goto bail;
    myErr = InsertTrackSegment(gSrcTracks[myMovieIter], videoTracks[myMovieIter], 0,
                               myEffectDuration, 0);
    if (myErr != noErr) goto bail;
    if (gCopyMovieMedia) {
      myErr = EndMediaEdits(videoMedia[myMovieIter]);
      if (myErr != noErr) goto bail;
    }
  }

  // The effect track and its one sample: the effect description.
  videoTrackFX = NewMovieTrack(myDestMovie, videoTrackFXWidth, videoTrackFXHeight, kNoVolume);
  if (videoTrackFX == NULL) goto bail;
  videoMediaFX = NewTrackMedia(videoTrackFX, VideoMediaType, myMovieTimeScale, NULL, 0);
  if (videoMediaFX == NULL) goto bail;

  myErr = MakeImageDescriptionForEffect(myEffectCode, &mySampleDesc);
  if (myErr != noErr) {
    mySampleDesc = NULL;
    goto bail;
  }
  (**mySampleDesc).vendor = (SInt32)'appl';
  (**mySampleDesc).temporalQuality = codecNormalQuality;
  (**mySampleDesc).spatialQuality = codecNormalQuality;
  (**mySampleDesc).width = (short)(videoTrackFXWidth >> 16);
  (**mySampleDesc).height = (short)(videoTrackFXHeight >> 16);

  myErr = BeginMediaEdits(videoMediaFX);
  if (myErr != noErr) goto bail;
  myErr =
      AddMediaSample(videoMediaFX, gEffectSample, 0, GetHandleSize(gEffectSample), myEffectDuration,
                     (SampleDescriptionHandle)mySampleDesc, 1, 0, &mySampleTime);
  if (myErr != noErr) goto bail;
  myErr = EndMediaEdits(videoMediaFX);
  if (myErr != noErr) goto bail;

  QTDisposeAtomContainer(gEffectSample);
  gEffectSample = NULL;
  DisposeHandle((Handle)mySampleDesc);
  mySampleDesc = NULL;

  myErr = InsertMediaIntoTrack(videoTrackFX, 0, mySampleTime, myEffectDuration, fixed1);
  if (myErr != noErr) goto bail;

  // Wire the copies to the effect: track references plus an input map naming A and B.
  QTNewAtomContainer(&myInputMap);
  for (myMovieIter = 0; myMovieIter < gSpecCount; myMovieIter++) {
    long myRefIndex = 0;
    AddTrackReference(videoTrackFX, videoTracks[myMovieIter], kTrackReferenceModifier, &myRefIndex);
    if (myInputMap != NULL)
      QTEffects_AddInputToMap(myInputMap, myRefIndex, myMovieIter == 0 ? 'srcA' : 'srcB');
  }
  if (gSpecCount >= 1 && myInputMap != NULL) SetMediaInputMap(videoMediaFX, myInputMap);
  if (myInputMap != NULL) QTDisposeAtomContainer(myInputMap);
  myInputMap = NULL;

  {
    Str255 myMovieName = {7, 'M', 'o', 'v', 'i', 'e', ' ', '1'};
    myErr = AddMovieResource(myDestMovie, myResRefNum, &myResID, myMovieName);
  }
  if (myErr != noErr) goto bail;

  CloseMovieFile(myResRefNum);
  myResRefNum = -1;
  myIsWritten = true;
  for (myMovieIter = 0; myMovieIter < gSpecCount; myMovieIter++) {
    if (gSrcMovies[myMovieIter] != NULL) DisposeMovie(gSrcMovies[myMovieIter]);
    gSrcMovies[myMovieIter] = NULL;
    gSrcTracks[myMovieIter] = NULL;
  }
  mySourcesReleased = true;
  DisposeMovie(myDestMovie);
  myDestMovie = NULL;

bail:
  if (myContainerLocked) QTUnlockContainer(gEffectSample);
  if (myPrompt != NULL) free(myPrompt);
  if (myFileName != NULL) free(myFileName);

  // Whatever the job still holds goes too. A movie file that was not finished is never given
  // its name, so nothing of it is left on disk and a file it was to replace is kept.
  if (!mySourcesReleased) {
    for (myMovieIter = 0; myMovieIter < gSpecCount && myMovieIter < 2; myMovieIter++) {
      if (gSrcMovies[myMovieIter] != NULL) DisposeMovie(gSrcMovies[myMovieIter]);
      gSrcMovies[myMovieIter] = NULL;
      gSrcTracks[myMovieIter] = NULL;
    }
  }
  if (gEffectSample != NULL) QTDisposeAtomContainer(gEffectSample);
  gEffectSample = NULL;
  if (mySampleDesc != NULL) DisposeHandle((Handle)mySampleDesc);
  if (myInputMap != NULL) QTDisposeAtomContainer(myInputMap);
  if (myDestMovie != NULL) DisposeMovie(myDestMovie);
  if (myResRefNum != -1) CloseMovieFile(myResRefNum);

  // Once the user has named the output file, a movie that was not written is reported. Some
  // steps fail without a code of their own (a track that could not be made): the movie
  // toolbox's last error stands in for it.
  if (myIsSelected && !myIsWritten) {
    if (myErr == noErr) myErr = GetMoviesError();
    if (myErr == noErr) myErr = internalQuickTimeError;
    QTFrame_ShowFileWarning("save the effect movie", myFile.name, myErr);
  }
}
