// The effect movie maker: choosing sources, the effects dialog, building the effect movie.
#pragma once
#include "MacPrefix.h"

// Effect job state, shared with the application hooks.
extern QTParameterDialog gEffectsDialog;
extern QTAtomContainer gEffectSample;
extern QTAtomContainer gEffectList;
extern PicHandle gPosterA;
extern PicHandle gPosterB;
extern Movie gSrcMovies[2];
extern Track gSrcTracks[2];
extern UInt16 gSpecCount;
extern Boolean gCopyMovieMedia;

void QTEffects_PromptUserForFilesAndMakeEffect(void);
OSErr QTEffects_DisplayDialogForSources(FSSpec* theSpecList, UInt16 theSpecCount);
Boolean QTEffects_HandleEffectsDialogEvents(EventRecord* theEvent, DialogItemIndex theItemHit);
OSErr QTEffects_GetFirstVideoTrackInMovie(Movie theMovie, Track* theTrack);
void QTEffects_RespondToDialogSelection(OSErr theErr);
