// Video effects: the effects list, effect image descriptions and the standard parameter dialog.
#pragma once
#include "Events.h"
#include "ImageCompression.h"
#include "MacErrors.h"
#include "MacTypes.h"
#include "Movies.h"
#include "Quickdraw.h"

// Atoms of an effect description (the effect track's sample) and of an effects list.
enum {
  kParameterWhatName = 'what',     // 4 bytes: the effect type code
  kEffectSourceName = 'src ',      // 4 bytes: a source name ('srcA', 'srcB')
  kEffectDataSourceType = 'dtst',  // input map: the source name an input feeds
  kEffectNameAtom = 'name',        // effects list: the name shown to users (length-prefixed)
  kEffectTypeAtom = 'type',        // effects list: the effect type code
  kParameterTweenAtom = 'twen',
  kTweenTypeAtom = 'twnt',
  kTweenDataAtom = 'data',
  kTweenStartOffsetAtom = 'twst',
  kTweenDurationAtom = 'twdu',
};

// Tween types stored in 'twnt'.
enum {
  kTweenTypeShort = 1,
  kTweenTypeLong = 2,
  kTweenTypeFixed = 3,
  kTweenTypePoint = 4,
  kTweenTypeQDRect = 5,
  kTweenTypeQDRegion = 6,
  kTweenTypeMatrix = 7,
  kTweenTypeRGBColor = 8,
};

// The built-in effects.
enum {
  kCrossFadeTransitionType = 'dslv',
  kPushTransitionType = 'push',
  kSlideTransitionType = 'slid',
  kZoomTransitionType = 'zoom',
  kExplodeTransitionType = 'xplo',
  kImplodeTransitionType = 'mplo',
  kWipeTransitionType = 'smpt',
  kIrisTransitionType = 'smp2',
  kRadialTransitionType = 'smp3',
  kMatrixTransitionType = 'smp4',
  kGradientTransitionType = 'matt',
  kAlphaCompositorTransitionType = 'blnd',
  kChromaKeyTransitionType = 'ckey',
  kBlurImageFilterType = 'blur',
  kSharpenImageFilterType = 'shrp',
  kEdgeDetectImageFilterType = 'edge',
  kEmbossImageFilterType = 'embs',
  kConvolveImageFilterType = 'genk',
  kColorStyleImageFilterType = 'solr',
  kColorTintImageFilterType = 'tint',
  kRGBBalanceImageFilterType = 'rgbb',
  kHSLBalanceImageFilterType = 'hsvb',
  kBrightnessContrastImageFilterType = 'brco',
  kAlphaGainImageFilterType = 'gain',
  kFilmNoiseImageFilterType = 'fmns',
  kLensFlareImageFilterType = 'lens',
  kFireGeneratorType = 'fire',
  kCloudGeneratorType = 'clou',
  kRippleGeneratorType = 'ripl',
};

// QTGetEffectsList options.
enum {
  elOptionsIncludeNoneInList = 1L << 0,  // adds a "None" entry (type 0) at the head of the list
};

// The standard effects parameter dialog.
typedef long QTParameterDialog;

enum {
  pdActionConfirmDialog = 1,
  pdActionSetAppleMenu = 2,
  pdActionSetEditMenu = 3,
  pdActionGetDialogValues = 4,
  pdActionSetPreviewUserItem = 5,
  pdActionSetPreviewPicture = 6,
  pdActionSetColorPickerEventProc = 7,
  pdActionSetDialogTitle = 8,
  pdActionGetSubPanelMenu = 9,
  pdActionActivateSubPanel = 10,
  pdActionConductStopAlert = 11,
  pdActionModelessCallback = 12,
  pdActionFetchPreview = 13,
  pdActionSetDialogSettings = 14,
  pdActionGetDialogSettings = 15,
  pdActionGetNextSample = 16,
  pdActionGetPreviousSample = 17,
  pdActionCompactSample = 18,
  pdActionSetEditCallout = 19,
  pdActionSetSampleTime = 20,
  pdActionDoEditCommand = 21,
  pdActionGetSubPanelMenuValue = 22,
};

enum {
  pdOptionsCollectOneValue = 1,
  pdOptionsAllowOptionalInterpolations = 2,
  pdOptionsModalDialogBox = 4,
};

struct QTParamPreviewRecord {
  long sourceID;  // 1 for source A, 2 for source B
  PicHandle sourcePicture;
};
typedef QTParamPreviewRecord* QTParamPreviewPtr;

OSErr QTCreateStandardParameterDialog(QTAtomContainer effectList, QTAtomContainer parameters,
                                      long dialogOptions, QTParameterDialog* createdDialog);
OSErr QTIsStandardParameterDialogEvent(EventRecord* pEvent, QTParameterDialog createdDialog);
OSErr QTDismissStandardParameterDialog(QTParameterDialog createdDialog);
OSErr QTStandardParameterDialogDoAction(QTParameterDialog createdDialog, long action, void* params);

// A new atom container listing, in catalogue order, the effects taking between minSources and
// maxSources sources: per effect a 'name' atom (length-prefixed name) and a 'type' atom (the
// code), both with atom ID n for the n-th effect. A negative maxSources means no upper bound.
OSErr QTGetEffectsList(QTAtomContainer* returnedList, long minSources, long maxSources,
                       long getOptions);

// A new image description for an effect track's sample; paramErr for a code that is not a
// catalogue effect (*idh is then null). The caller owns the handle.
OSErr MakeImageDescriptionForEffect(OSType effectType, ImageDescriptionHandle* idh);
