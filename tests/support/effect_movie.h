// Builds a two-source effect movie file as the effect movie maker does: a copy of (or a
// reference to) each source's first video track, cut to the shorter one, and an effect track
// of width x height wired to them as sources A and B. For tests and benchmarks.
#pragma once
#include <Endian.h>
#include <MacMemory.h>
#include <Movies.h>
#include <QTAtoms.h>
#include <QuickTimeEffects.h>
#include <TextUtils.h>

#include <algorithm>
#include <string>

#include "effects/description.h"
#include "movies.h"

namespace vt_test {

// `effect` runs from 0 to 100% over the movie (as 'pcnt' tweens). noErr, or the first error.
inline OSErr makeEffectMovie(const std::string& out, const std::string& a, const std::string& b,
                             OSType effect, short width, short height, bool copyMedia) {
  Movie src[2] = {openMovie(a), openMovie(b)};
  FSSpec spec{};
  VTMakeFSSpecFromPath(out.c_str(), &spec);
  short ref = -1;
  Movie dest = nullptr;
  OSErr err = src[0] && src[1] ? (OSErr)noErr : (OSErr)fnfErr;
  if (err == noErr)
    err = CreateMovieFile(&spec, 'TVOD', smSystemScript,
                          createMovieFileDeleteCurFile | createMovieFileDontCreateResFile, &ref,
                          &dest);
  const TimeScale scale = 600;
  Track srcTrack[2] = {nullptr, nullptr}, copy[2] = {nullptr, nullptr};
  TimeValue duration = 0;
  for (int k = 0; k < 2 && err == noErr; ++k) {
    SetMovieTimeScale(src[k], scale);
    srcTrack[k] = GetMovieIndTrackType(src[k], 1, kCharacteristicCanSendVideo,
                                       movieTrackCharacteristic | movieTrackEnabledOnly);
    if (!srcTrack[k])
      err = invalidTrack;
    else
      duration = k == 0 ? GetTrackDuration(srcTrack[k])
                        : std::min(duration, GetTrackDuration(srcTrack[k]));
  }
  for (int k = 0; k < 2 && err == noErr; ++k) {
    Fixed w, h;
    GetTrackDimensions(srcTrack[k], &w, &h);
    copy[k] = NewMovieTrack(dest, w, h, kNoVolume);
    Media media = NewTrackMedia(copy[k], VideoMediaType, scale, nullptr, 0);
    if (copyMedia) BeginMediaEdits(media);
    err = InsertTrackSegment(srcTrack[k], copy[k], 0, duration, 0);
    if (copyMedia && err == noErr) err = EndMediaEdits(media);
  }
  Track fx = err == noErr ? NewMovieTrack(dest, (Fixed)width << 16, (Fixed)height << 16, kNoVolume)
                          : nullptr;
  Media fxMedia = fx ? NewTrackMedia(fx, VideoMediaType, scale, nullptr, 0) : nullptr;
  ImageDescriptionHandle desc = nullptr;
  if (err == noErr) err = fxMedia ? MakeImageDescriptionForEffect(effect, &desc) : GetMoviesError();
  if (err == noErr) {
    (*desc)->width = width;
    (*desc)->height = height;
    auto bytes = vt::effects::buildDescription(effect, 2, {{'pcnt', {0, 0, 0}, true, {100, 0, 0}}});
    Handle sample = nullptr;
    PtrToHand(bytes.data(), &sample, (long)bytes.size());
    TimeValue sampleTime = 0;
    BeginMediaEdits(fxMedia);
    err = AddMediaSample(fxMedia, sample, 0, bytes.size(), duration, (SampleDescriptionHandle)desc,
                         1, 0, &sampleTime);
    if (err == noErr) err = EndMediaEdits(fxMedia);
    if (err == noErr) err = InsertMediaIntoTrack(fx, 0, sampleTime, duration, fixed1);
    DisposeHandle(sample);
  }
  if (desc) DisposeHandle((Handle)desc);
  QTAtomContainer map = nullptr;
  if (err == noErr) err = QTNewAtomContainer(&map);
  for (int k = 0; k < 2 && err == noErr; ++k) {
    long index = 0;
    err = AddTrackReference(fx, copy[k], kTrackReferenceModifier, &index);
    QTAtom input = 0;
    QTInsertChild(map, kParentAtomIsContainer, kTrackModifierInput, index, 0, 0, nullptr, &input);
    OSType vide = EndianU32_NtoB(VideoMediaType), name = EndianU32_NtoB(k == 0 ? 'srcA' : 'srcB');
    QTInsertChild(map, input, kTrackModifierType, 1, 0, 4, &vide, nullptr);
    QTInsertChild(map, input, kEffectDataSourceType, 1, 0, 4, &name, nullptr);
  }
  if (err == noErr) err = SetMediaInputMap(fxMedia, map);
  if (map) QTDisposeAtomContainer(map);
  if (err == noErr) {
    short resID = movieInDataForkResID;
    Str255 movieName;
    CopyCStringToPascal("Movie 1", movieName);
    err = AddMovieResource(dest, ref, &resID, movieName);
  }
  if (ref != -1) CloseMovieFile(ref);
  if (dest) DisposeMovie(dest);
  for (Movie m : src)
    if (m) DisposeMovie(m);
  return err;
}

}  // namespace vt_test
