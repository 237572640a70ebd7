// Movie toolbox: movies, tracks, media, time, movie files.
// Types shared with other managers come first; the operations follow.
#pragma once
#include "Components.h"
#include "Files.h"
#include "ImageCompression.h"
#include "MacErrors.h"
#include "MacTypes.h"
#include "Quickdraw.h"

struct VTMovie;
struct VTTrack;
struct VTMedia;
struct VTTimeBase;
struct VTUserData;
typedef VTMovie* Movie;
typedef Movie* PtrMovie;
typedef VTTrack* Track;
typedef VTMedia* Media;
typedef VTTimeBase* TimeBase;
typedef VTUserData* UserData;
typedef Handle SampleDescriptionHandle;
typedef long MediaSampleFlags;
typedef ComponentInstance MediaHandler;
typedef Component MediaHandlerComponent;
typedef Handle AliasHandle;

struct TimeRecord {
  CompTimeValue value;
  TimeScale scale;
  TimeBase base;
};

// Atom containers (operations in QTAtoms.h).
typedef Handle QTAtomContainer;
typedef long QTAtom;
typedef long QTAtomType;
typedef long QTAtomID;
enum { kParentAtomIsContainer = 0 };

// ---------------------------------------------------------------------------------------------
// Constants

typedef UInt32 UnsignedFixed;
struct MatrixRecord {
  Fixed matrix[3][3];
};
typedef MatrixRecord* MatrixRecordPtr;

// The 16-byte head shared by every sample description, in host byte order in memory.
#pragma pack(push, 2)
struct SampleDescription {
  SInt32 descSize;
  SInt32 dataFormat;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
};
// Sound sample description (version 0 layout; version 1 adds four 32-bit fields after it), in
// host byte order in memory. Anything after the fixed fields is kept as stored in the file.
struct SoundDescription {
  SInt32 descSize;
  OSType dataFormat;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
  SInt16 version;
  SInt16 revlevel;
  SInt32 vendor;
  SInt16 numChannels;
  SInt16 sampleSize;
  SInt16 compressionID;
  SInt16 packetSize;
  UnsignedFixed sampleRate;
};
#pragma pack(pop)
typedef SampleDescription* SampleDescriptionPtr;
typedef SoundDescription* SoundDescriptionPtr;
typedef SoundDescriptionPtr* SoundDescriptionHandle;

enum { movieInDataForkResID = -1 };

enum {
  newMovieActive = 1 << 0,
  newMovieDontResolveDataRefs = 1 << 1,
  newMovieDontAskUnresolvedDataRefs = 1 << 2,
  newMovieDontAutoAlternates = 1 << 3,
  newMovieDontUpdateForeBackPointers = 1 << 4,
  newMovieDontAutoUpdateClock = 1 << 5,
  newMovieAsyncOK = 1 << 8,
  newMovieIdleImportOK = 1 << 10,
};

enum : UInt32 {
  createMovieFileDeleteCurFile = 1UL << 31,
  createMovieFileDontCreateMovie = 1UL << 30,
  createMovieFileDontOpenFile = 1UL << 29,
  createMovieFileDontCreateResFile = 1UL << 28,
};

enum {
  flattenAddMovieToDataFork = 1L << 0,
  flattenActiveTracksOnly = 1L << 2,
  flattenDontInterleaveFlatten = 1L << 3,
  flattenFSSpecPtrIsDataRefRecordPtr = 1L << 4,
  flattenCompressMovieResource = 1L << 5,
  flattenForceMovieResourceBeforeMovieData = 1L << 6,
};

enum {
  movieTrackMediaType = 1 << 0,
  movieTrackCharacteristic = 1 << 1,
  movieTrackEnabledOnly = 1 << 2
};

enum {
  VideoMediaType = 'vide',
  SoundMediaType = 'soun',
  TextMediaType = 'text',
  BaseMediaType = 'gnrc',
  MPEGMediaType = 'MPEG',
  MusicMediaType = 'musi',
  TimeCodeMediaType = 'tmcd',
  SpriteMediaType = 'sprt',
  FlashMediaType = 'flsh',
  MovieMediaType = 'moov',
  TweenMediaType = 'twen',
  ThreeDeeMediaType = 'qd3d',
  HandleDataHandlerSubType = 'hndl',
  PointerDataHandlerSubType = 'ptr ',
  URLDataHandlerSubType = 'url ',
  rAliasType = 'alis',
};
// Streamed media, and the user data item in which a movie names its controller type.
enum { kQTSStreamMediaType = 'strm', kUserDataMovieControllerType = 'ctyp' };

enum {
  VisualMediaCharacteristic = 'eyes',
  AudioMediaCharacteristic = 'ears',
  kCharacteristicCanSendVideo = 'vsnd',
  kCharacteristicProvidesActions = 'actn',
  kCharacteristicNonLinear = 'nonl',
  kCharacteristicCanStep = 'step',
  kCharacteristicHasNoDuration = 'noti',
};

enum {
  kTrackReferenceChapterList = 'chap',
  kTrackReferenceTimeCode = 'tmcd',
  kTrackReferenceModifier = 'ssrc',
};

// Input map atoms of a modifier (e.g. effect) track.
enum {
  kTrackModifierInput = 0x696E,
  kTrackModifierType = 0x7479,
  kTrackModifierReference = 'ssrc',
  kTrackModifierObjectID = 'obid',
  kTrackModifierInputName = 'name',
};
enum {
  kTrackModifierTypeMatrix = 1,
  kTrackModifierTypeClip = 2,
  kTrackModifierTypeVolume = 3,
  kTrackModifierTypeBalance = 4,
  kTrackModifierTypeGraphicsMode = 5,
  kTrackModifierObjectMatrix = 6,
  kTrackModifierObjectGraphicsMode = 7,
  kTrackModifierTypeImage = 'vide',
};

enum { kNoVolume = 0, kFullVolume = 0x0100 };

enum {
  nextTimeMediaSample = 1 << 0,
  nextTimeMediaEdit = 1 << 1,
  nextTimeTrackEdit = 1 << 2,
  nextTimeSyncSample = 1 << 3,
  nextTimeStep = 1 << 4,
  nextTimeEdgeOK = 1 << 14,
  nextTimeIgnoreActiveSegment = 1 << 15,
};

enum { mediaSampleNotSync = 1 << 0, mediaSampleShadowSync = 1 << 1 };

enum {
  hintsScrubMode = 1 << 0,
  hintsLoop = 1 << 1,
  hintsDontPurge = 1 << 2,
  hintsUseScreenBuffer = 1 << 5,
  hintsAllowInterlace = 1 << 6,
  hintsUseSoundInterp = 1 << 7,
  hintsHighQuality = 1 << 8,
  hintsPalindrome = 1 << 9,
  hintsInactive = 1 << 11,
  hintsOffscreen = 1 << 12,
  hintsDontDraw = 1 << 13,
  hintsAllowBlacklining = 1 << 14,
  hintsDontUseVideoOverlaySurface = 1 << 16,
  hintsIgnoreBandwidthRestrictions = 1 << 17,
  hintsPlayingEveryFrame = 1 << 18,
  hintsAllowDynamicResize = 1 << 19,
};

enum { loopTimeBase = 1, palindromeLoopTimeBase = 2, maintainTimeBaseZero = 4 };

// Progress procedures (FlattenMovieData and long edits report through them).
enum { movieProgressOpen = 0, movieProgressUpdatePercent = 1, movieProgressClose = 2 };
enum {
  progressOpFlatten = 1,
  progressOpInsertTrackSegment = 2,
  progressOpInsertMovieSegment = 3,
  progressOpPaste = 4,
  progressOpAddMovieSelection = 5,
  progressOpCopy = 6,
  progressOpCut = 7,
  progressOpLoadMovieIntoRam = 8,
  progressOpLoadTrackIntoRam = 9,
  progressOpLoadMediaIntoRam = 10,
  progressOpImportMovie = 11,
  progressOpExportMovie = 12,
};
typedef OSErr (*MovieProgressProcPtr)(Movie theMovie, short message, short whatOperation,
                                      Fixed percentDone, long refcon);
typedef MovieProgressProcPtr MovieProgressUPP;
MovieProgressUPP NewMovieProgressUPP(MovieProgressProcPtr proc);
void DisposeMovieProgressUPP(MovieProgressUPP upp);

// GetMovieImporterForDataRef flags.
enum {
  kGetMovieImporterValidateToFind = 1L << 0,
  kGetMovieImporterAllowNewFile = 1L << 1,
  kGetMovieImporterDontConsiderGraphicsImporters = 1L << 2,
  kGetMovieImporterDontConsiderFileOnlyImporters = 1L << 6,
  kGetMovieImporterAutoImportOnly = 1L << 10
};

// MediaGetName's requested name.
enum { kMediaHandlerName = 0 };

// ---------------------------------------------------------------------------------------------
// Toolbox set-up (made by the decoding layer: it initialises the whole movie stack).
OSErr EnterMovies();
void ExitMovies();
OSErr GetMoviesError();
OSErr GetMoviesStickyError();
void ClearMoviesStickyError();

// Movies
Movie NewMovie(long flags);
void DisposeMovie(Movie theMovie);
TimeScale GetMovieTimeScale(Movie theMovie);
void SetMovieTimeScale(Movie theMovie, TimeScale timeScale);
TimeValue GetMovieDuration(Movie theMovie);
void GetMovieBox(Movie theMovie, Rect* boxRect);
void SetMovieBox(Movie theMovie, const Rect* boxRect);
void GetMovieNaturalBoundsRect(Movie theMovie, Rect* naturalBounds);
void GetMovieMatrix(Movie theMovie, MatrixRecord* matrix);
void SetMovieMatrix(Movie theMovie, const MatrixRecord* matrix);
void SetMoviePlayHints(Movie theMovie, long flags, long flagsMask);
long VTGetMoviePlayHints(Movie theMovie);
Fixed GetMoviePreferredRate(Movie theMovie);
void SetMoviePreferredRate(Movie theMovie, Fixed rate);
short GetMoviePreferredVolume(Movie theMovie);
void SetMoviePreferredVolume(Movie theMovie, short volume);
short GetMovieVolume(Movie theMovie);
void SetMovieVolume(Movie theMovie, short volume);
TimeValue GetMoviePosterTime(Movie theMovie);
void SetMoviePosterTime(Movie theMovie, TimeValue posterTime);
void GetMovieSelection(Movie theMovie, TimeValue* selectionTime, TimeValue* selectionDuration);
void SetMovieSelection(Movie theMovie, TimeValue selectionTime, TimeValue selectionDuration);
TimeValue GetMovieTime(Movie theMovie, TimeRecord* currentTime);
void SetMovieTimeValue(Movie theMovie, TimeValue newtime);
Fixed GetMovieRate(Movie theMovie);
void SetMovieRate(Movie theMovie, Fixed rate);
Boolean GetMovieActive(Movie theMovie);
void SetMovieActive(Movie theMovie, Boolean active);
void SetMovieGWorld(Movie theMovie, CGrafPtr port, GDHandle gdh);
void GetMovieGWorld(Movie theMovie, CGrafPtr* port, GDHandle* gdh);
void SetMovieProgressProc(Movie theMovie, MovieProgressUPP p, long refcon);
TimeBase GetMovieTimeBase(Movie theMovie);
long GetTimeBaseFlags(TimeBase tb);
void SetTimeBaseFlags(TimeBase tb, long timeBaseFlags);
void GetMovieNextInterestingTime(Movie theMovie, short interestingTimeFlags, short numMediaTypes,
                                 const OSType* whichMediaTypes, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration);
OSErr CopyMovieSettings(Movie srcMovie, Movie dstMovie);
UserData GetMovieUserData(Movie theMovie);

// Tracks
long GetMovieTrackCount(Movie theMovie);
Track GetMovieIndTrack(Movie theMovie, long index);
Track GetMovieIndTrackType(Movie theMovie, long index, OSType trackType, long flags);
Track GetMovieTrack(Movie theMovie, long trackID);
Track NewMovieTrack(Movie theMovie, Fixed width, Fixed height, short trackVolume);
void DisposeMovieTrack(Track theTrack);
long GetTrackID(Track theTrack);
Movie GetTrackMovie(Track theTrack);
Media GetTrackMedia(Track theTrack);
TimeValue GetTrackDuration(Track theTrack);
void GetTrackDimensions(Track theTrack, Fixed* width, Fixed* height);
void SetTrackDimensions(Track theTrack, Fixed width, Fixed height);
Boolean GetTrackEnabled(Track theTrack);
void SetTrackEnabled(Track theTrack, Boolean isEnabled);
short GetTrackLayer(Track theTrack);
void SetTrackLayer(Track theTrack, short layer);
short GetTrackVolume(Track theTrack);
void SetTrackVolume(Track theTrack, short volume);
void GetTrackMatrix(Track theTrack, MatrixRecord* matrix);
void SetTrackMatrix(Track theTrack, const MatrixRecord* matrix);
OSErr CopyTrackSettings(Track srcTrack, Track dstTrack);
UserData GetTrackUserData(Track theTrack);
void GetTrackNextInterestingTime(Track theTrack, short interestingTimeFlags, TimeValue time,
                                 Fixed rate, TimeValue* interestingTime,
                                 TimeValue* interestingDuration);
OSErr InsertTrackSegment(Track srcTrack, Track dstTrack, TimeValue srcIn, TimeValue srcDuration,
                         TimeValue dstIn);
OSErr InsertMediaIntoTrack(Track theTrack, TimeValue trackStart, TimeValue mediaTime,
                           TimeValue mediaDuration, Fixed mediaRate);
OSErr InsertEmptyTrackSegment(Track dstTrack, TimeValue dstIn, TimeValue dstDuration);
OSErr DeleteTrackSegment(Track theTrack, TimeValue startTime, TimeValue duration);
TimeValue TrackTimeToMediaTime(TimeValue value, Track theTrack);

// Movie editing (the selection, cut, copy, paste; edit states make one level of undo).
struct VTMovieEditState;
typedef VTMovieEditState* MovieEditState;
OSErr InsertMovieSegment(Movie srcMovie, Movie dstMovie, TimeValue srcIn, TimeValue srcDuration,
                         TimeValue dstIn);
OSErr DeleteMovieSegment(Movie theMovie, TimeValue startTime, TimeValue duration);
OSErr InsertEmptyMovieSegment(Movie dstMovie, TimeValue dstIn, TimeValue dstDuration);
Movie CopyMovieSelection(Movie theMovie);
Movie CutMovieSelection(Movie theMovie);
void PasteMovieSelection(Movie theMovie, Movie src);
void ClearMovieSelection(Movie theMovie);
MovieEditState NewMovieEditState(Movie theMovie);
OSErr UseMovieEditState(Movie theMovie, MovieEditState toState);
OSErr DisposeMovieEditState(MovieEditState state);

// Track references
OSErr AddTrackReference(Track theTrack, Track refTrack, OSType refType, long* addedIndex);
OSErr DeleteTrackReference(Track theTrack, OSType refType, long index);
OSErr SetTrackReference(Track theTrack, Track refTrack, OSType refType, long index);
Track GetTrackReference(Track theTrack, OSType refType, long index);
long GetTrackReferenceCount(Track theTrack, OSType refType);
OSType GetNextTrackReferenceType(Track theTrack, OSType refType);

// Media
Media NewTrackMedia(Track theTrack, OSType mediaType, TimeScale timeScale, Handle dataRef,
                    OSType dataRefType);
void DisposeTrackMedia(Media theMedia);
Track GetMediaTrack(Media theMedia);
TimeScale GetMediaTimeScale(Media theMedia);
void SetMediaTimeScale(Media theMedia, TimeScale timeScale);
TimeValue GetMediaDuration(Media theMedia);
short GetMediaLanguage(Media theMedia);
void SetMediaLanguage(Media theMedia, short language);
short GetMediaQuality(Media theMedia);
void SetMediaQuality(Media theMedia, short quality);
long GetMediaSampleCount(Media theMedia);
long GetMediaSampleDescriptionCount(Media theMedia);
void GetMediaSampleDescription(Media theMedia, long index, SampleDescriptionHandle descH);
OSErr BeginMediaEdits(Media theMedia);
OSErr EndMediaEdits(Media theMedia);
OSErr AddMediaSample(Media theMedia, Handle dataIn, long inOffset, unsigned long size,
                     TimeValue durationPerSample, SampleDescriptionHandle sampleDescriptionH,
                     long numberOfSamples, short sampleFlags, TimeValue* sampleTime);
OSErr GetMediaSample(Media theMedia, Handle dataOut, long maxSizeToGrow, long* size, TimeValue time,
                     TimeValue* sampleTime, TimeValue* durationPerSample,
                     SampleDescriptionHandle sampleDescriptionH, long* sampleDescriptionIndex,
                     long maxNumberOfSamples, long* numberOfSamples, short* sampleFlags);
MediaHandler GetMediaHandler(Media theMedia);
void GetMediaHandlerDescription(Media theMedia, OSType* mediaType, Str255 creatorName,
                                OSType* creatorManufacturer);
ComponentResult MediaGetName(MediaHandler mh, Str255 name, long requestedNameType,
                             long* actualNameType);
OSErr SetMediaInputMap(Media theMedia, QTAtomContainer inputMap);
OSErr GetMediaInputMap(Media theMedia, QTAtomContainer* inputMap);
UserData GetMediaUserData(Media theMedia);

// The operations on user data lists are in MovieUserData.h.

// Movie files
OSErr OpenMovieFile(const FSSpec* fileSpec, short* resRefNum, SInt8 permission);
OSErr CloseMovieFile(short resRefNum);
OSErr NewMovieFromFile(Movie* theMovie, short resRefNum, short* resId, StringPtr resName,
                       short newMovieFlags, Boolean* dataRefWasChanged);
OSErr CreateMovieFile(const FSSpec* fileSpec, OSType creator, ScriptCode scriptTag,
                      long createMovieFileFlags, short* resRefNum, Movie* newmovie);
OSErr AddMovieResource(Movie theMovie, short resRefNum, short* resId, ConstStr255Param resName);
OSErr UpdateMovieResource(Movie theMovie, short resRefNum, short resId, ConstStr255Param resName);
OSErr DeleteMovieFile(const FSSpec* fileSpec);
Movie FlattenMovieData(Movie theMovie, long movieFlattenFlags, const FSSpec* theFile,
                       OSType creator, ScriptCode scriptTag, long createMovieFileFlags);
OSErr QTNewAlias(const FSSpec* fss, AliasHandle* alias, Boolean minimal);

// Pictures and importers (made by the decoding layer).
PicHandle GetTrackPict(Track theTrack, TimeValue time);
PicHandle GetMoviePict(Movie theMovie, TimeValue time);
OSErr GetMovieImporterForDataRef(OSType dataRefType, Handle dataRef, long flags,
                                 Component* importer);

// Vantrel addition: the path of the file a movie was opened from or created in ("" if none),
// copied into buf (NUL-terminated, truncated to bufSize). Returns the full length.
long VTGetMovieFilePath(Movie theMovie, char* buf, long bufSize);

// Movie export. ConvertMovieToFile writes every frame of the movie (its frames at their exact
// rate, or at their own times), effects composed, at the movie's own size (its pictures' size,
// whatever a window scaled its box to; with vtExportAtMovieBoxSize in flags, at the box's size),
// as a standard file by fileType: kQTFileTypeMP4 ('mpg4') H.264 in MPEG-4,
// kQTFileTypeMovie ('MooV') ProRes 422 in a QuickTime movie, kQTFileTypePNG ('PNGf') a folder
// of PNG images. The output appears only when whole; an existing file of its name is replaced
// then. The movie's progress procedure hears progressOpExportMovie and may stop the export;
// the default procedure ((MovieProgressUPP)-1) shows the progress window with Cancel. The
// movie is not changed. Errors: paramErr (a track given, an unknown type), userCanceledErr,
// dskFulErr, wrPermErr, dirNFErr, dupFNErr (a folder of that name holds files), codecErr, ioErr.
enum { vtExportAtMovieBoxSize = 1L << 20 };
OSErr ConvertMovieToFile(Movie theMovie, Track onlyTrack, FSSpec* outputFile, OSType fileType,
                         OSType creator, ScriptCode scriptTag, short* resID, long flags,
                         ComponentInstance userComp);
