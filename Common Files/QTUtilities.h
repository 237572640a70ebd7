// Movie utilities: queries and small operations on the platform, movies, tracks, controllers,
// user data, files and strings.
#pragma once
#include "MacPrefix.h"

// Controller elements, as bits of the controller's flags. A set bit hides the element, except
// for the custom button, which a set bit shows.
enum {
  kQTUtilsStepButtons = 0x2,
  kQTUtilsSpeakerButton = 0x4,
  kQTUtilsCustomButton = 0x20,
  kQTUtilsBackButton = 0x10000,
  kQTUtilsZoomButtons = 0x20000,
  kQTUtilsHotSpotButton = 0x40000,
  kQTUtilsTranslateButton = 0x80000,
  kQTUtilsHelpText = 0x100000,
  kQTUtilsHotSpotNames = 0x200000,
};
enum {
  kQTVRSpeakerButton = kQTUtilsSpeakerButton,
  kQTVRCustomButton = kQTUtilsCustomButton,
  kQTVRBackButton = kQTUtilsBackButton,
  kQTVRZoomButtons = kQTUtilsZoomButtons,
  kQTVRHotSpotButton = kQTUtilsHotSpotButton,
  kQTVRTranslateButton = kQTUtilsTranslateButton,
  kQTVRHelpText = kQTUtilsHelpText,
  kQTVRHotSpotNames = kQTUtilsHotSpotNames,
};

// Looping modes kept in a movie's 'LOOP' user data item.
enum { kNormalLooping = 0, kPalindromeLooping = 1, kNoLooping = 2 };

// Controller types that mark panorama and object movies.
enum { kQTVRQTVRType = 'qtvr', kQTVROldPanoType = 'STpn', kQTVROldObjectType = 'stna' };

// Platform capabilities
Boolean QTUtils_IsQuickTimeInstalled(void);
Boolean QTUtils_IsQuickTimeCFMInstalled(void);
long QTUtils_GetQTVersion(void);
Boolean QTUtils_HasQuickTimeVideoEffects(void);
Boolean QTUtils_HasFullScreenSupport(void);
Boolean QTUtils_HasWiredSprites(void);
Boolean QTUtils_IsQTVRMovie(Movie theMovie);
Boolean QTUtils_IsStreamedMovie(Movie theMovie);

// Controller bar, buttons and controller type
Boolean QTUtils_IsControllerBarVisible(MovieController theMC);
short QTUtils_GetControllerBarHeight(MovieController theMC);
void QTUtils_HideControllerBar(MovieController theMC);
void QTUtils_ShowControllerBar(MovieController theMC);
void QTUtils_ToggleControllerBar(MovieController theMC);
void QTUtils_PutControllerBarOnTop(MovieController theMC);
void QTUtils_HideControllerButton(MovieController theMC, long theButton);
void QTUtils_ShowControllerButton(MovieController theMC, long theButton);
void QTUtils_ToggleControllerButton(MovieController theMC, long theButton);
void QTUtils_ResetControllerButton(MovieController theMC, long theButton);
Boolean QTUtils_IsControllerButtonVisible(MovieController theMC, long theButton);
OSType QTUtils_GetControllerType(Movie theMovie);
OSErr QTUtils_SetControllerType(Movie theMovie, OSType theType);
MovieController QTUtils_ChangeControllerType(MovieController theMC, OSType theType, long theFlags);

// Movie, track and media queries and edits
Boolean QTUtils_IsMediaTypeInMovie(Movie theMovie, OSType theMediaType);
Boolean QTUtils_MovieHasTimeCodeTrack(Movie theMovie);
Boolean QTUtils_MovieHasSoundTrack(Movie theMovie);
MediaHandler QTUtils_GetSoundMediaHandler(Movie theMovie);
OSErr QTUtils_UpdateMovieVolumeSetting(Movie theMovie);
OSErr QTUtils_SelectAllMovie(MovieController theMC);
OSErr QTUtils_SelectNoneMovie(MovieController theMC);
ImageDescriptionHandle QTUtils_MakeSampleDescription(long theEffectType, short theWidth,
                                                     short theHeight);
char* QTUtils_GetTrackName(Track theTrack);
OSErr QTUtils_SetTrackName(Track theTrack, char* theText);
char* QTUtils_MakeTrackNameByType(Track theTrack);
OSErr QTUtils_DeleteAllReferencesToTrack(Track theTrack);
TimeValue QTUtils_GetFrameDuration(Track theTrack);
long QTUtils_GetFrameCount(Track theTrack);

// Movie user data
OSErr QTUtils_GetMovieFileLoopingInfo(Movie theMovie, long* theLoopInfo);
OSErr QTUtils_SetMovieFileLoopingInfo(Movie theMovie, long theLoopInfo);
OSErr QTUtils_SetLoopingStateFromFile(Movie theMovie, MovieController theMC);
OSErr QTUtils_MakeMovieLoop(Movie theMovie, Boolean isPalindrome);
OSErr QTUtils_GetWindowPositionFromFile(Movie theMovie, Point* thePoint);
OSErr QTUtils_AddUserDataTextToMovie(Movie theMovie, char* theText, OSType theType);
OSErr QTUtils_AddCopyrightToMovie(Movie theMovie, char* theText);
OSErr QTUtils_AddMovieNameToMovie(Movie theMovie, char* theText);
OSErr QTUtils_AddMovieInfoToMovie(Movie theMovie, char* theText);

// Files, strings, screens and preferences
Boolean QTUtils_IsImageFile(FSSpec* theFSSpec);
Boolean QTUtils_IsMovieFile(FSSpec* theFSSpec);
void QTUtils_ConvertFloatToBigEndian(float* theFloat);
StringPtr QTUtils_ConvertCToPascalString(char* theString);
char* QTUtils_ConvertPascalToCString(StringPtr theString);
void QTUtils_GetMaxWindowDepth(WindowPtr theWindow, short* thePixelType, short* thePixelSize);
void QTUtils_GetMaxScreenDepth(Rect* theGlobalRect, short* thePixelType, short* thePixelSize);
long QTUtils_GetUsersConnectionSpeed(void);
OSErr QTUtils_SetUsersConnectionSpeed(long theSpeed);
