// Movies, tracks and media in memory: time, edits, queries, references, samples.
#include <MovieUserData.h>

#include <array>
#include <tuple>

#include "helpers.h"

namespace {

struct VideoMovie {
  Movie movie;
  Track track;
  Media media;
  VideoMovie(int samples, TimeValue duration, TimeScale mediaScale = 600)
      : movie(mt::videoMovie(samples, 16, duration, mediaScale)),
        track(GetMovieIndTrack(movie, 1)),
        media(GetTrackMedia(track)) {}
  ~VideoMovie() { DisposeMovie(movie); }
};

long frameCount(Track t) {
  long count = -1;
  TimeValue time = 0;
  short flags = nextTimeMediaSample | nextTimeEdgeOK;
  while (time >= 0) {
    ++count;
    GetTrackNextInterestingTime(t, flags, time, fixed1, &time, nullptr);
    flags = nextTimeStep;
  }
  return count;
}

TEST(MovieModel, NewMovieDefaultsDisposalAndNullArguments) {
  long handles = VTLiveHandleCount();
  Movie m = NewMovie(newMovieActive);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetMovieTimeScale(m), 600);
  DisposeMovie(m);
  // A disposed movie is refused, not used.
  EXPECT_EQ(GetMovieTimeScale(m), 0);
  EXPECT_EQ(GetMoviesError(), invalidMovie);
  EXPECT_EQ(VTLiveHandleCount(), handles);
  // Null arguments are refused too.
  EXPECT_EQ(GetMovieTrackCount(nullptr), 0);
  EXPECT_EQ(GetMovieIndTrackType(nullptr, 1, kCharacteristicCanSendVideo, movieTrackCharacteristic),
            nullptr);
  EXPECT_EQ(GetTrackMedia(nullptr), nullptr);
  EXPECT_EQ(GetTrackDuration(nullptr), 0);
  EXPECT_EQ(NewMovieTrack(nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(InsertTrackSegment(nullptr, nullptr, 0, 10, 0), invalidTrack);
  EXPECT_EQ(AddMediaSample(nullptr, nullptr, 0, 0, 1, nullptr, 1, 0, nullptr), invalidMedia);
  EXPECT_EQ(CopyMovieSettings(nullptr, nullptr), invalidMovie);
  EXPECT_EQ(GetMovieUserData(nullptr), nullptr);
  EXPECT_EQ(GetTimeBaseFlags(nullptr), 0);
  EXPECT_EQ(GetMoviesError(), paramErr);
  Fixed w = 5, h = 5;
  GetTrackDimensions(nullptr, &w, &h);
  EXPECT_EQ(std::make_pair(w, h), std::make_pair(0, 0));
}

TEST(MovieModel, SamplesEditsAndDurations) {
  VideoMovie v(10, 30, 600);
  EXPECT_EQ(GetMediaSampleCount(v.media), 10);
  EXPECT_EQ(GetMediaDuration(v.media), 300);
  EXPECT_EQ(GetTrackDuration(v.track), 300);
  EXPECT_EQ(GetMovieDuration(v.movie), 300);
  // An edit past the media is refused and changes nothing.
  EXPECT_EQ(InsertMediaIntoTrack(v.track, 0, 200, 200, fixed1), invalidDuration);
  EXPECT_EQ(GetTrackDuration(v.track), 300);
  // Half-speed edit appended: 60 media units last 120 movie units.
  EXPECT_EQ(InsertMediaIntoTrack(v.track, -1, 0, 60, fixed1 / 2), noErr);
  EXPECT_EQ(GetTrackDuration(v.track), 420);
  EXPECT_EQ(TrackTimeToMediaTime(300 + 100, v.track), 50);
  // Inserting in the middle splits the edit there.
  EXPECT_EQ(InsertMediaIntoTrack(v.track, 150, 0, 30, fixed1), noErr);
  EXPECT_EQ(GetTrackDuration(v.track), 450);
  EXPECT_EQ(TrackTimeToMediaTime(160, v.track), 10);
  EXPECT_EQ(TrackTimeToMediaTime(180, v.track), 150);
  EXPECT_EQ(DeleteTrackSegment(v.track, 150, 30), noErr);
  EXPECT_EQ(GetTrackDuration(v.track), 420);
  EXPECT_EQ(TrackTimeToMediaTime(160, v.track), 160);
}

TEST(MovieModel, TimeScaleChangeRescalesDurations) {
  VideoMovie v(7, 10, 600);  // 70 units at 600
  SetMovieSelection(v.movie, 30, 20);
  SetMoviePosterTime(v.movie, 60);
  SetMovieTimeScale(v.movie, 1200);
  EXPECT_EQ(GetTrackDuration(v.track), 140);
  EXPECT_EQ(GetMovieDuration(v.movie), 140);
  EXPECT_EQ(mt::selection(v.movie), std::make_pair(60, 40));
  EXPECT_EQ(GetMoviePosterTime(v.movie), 120);
  // Media times are untouched.
  EXPECT_EQ(GetMediaDuration(v.media), 70);
  SetMovieTimeScale(v.movie, 90000);
  EXPECT_EQ(GetTrackDuration(v.track), 10500);
  SetMovieTimeScale(v.movie, 0);  // refused
  EXPECT_EQ(GetMoviesError(), paramErr);
  EXPECT_EQ(GetMovieTimeScale(v.movie), 90000);
}

TEST(MovieModel, TrackKindsByTypeAndCharacteristic) {
  Movie m = NewMovie(0);
  auto add = [&](OSType type, bool enabled) {
    Track t = NewMovieTrack(m, 10 << 16, 10 << 16, 0);
    NewTrackMedia(t, type, 600, nullptr, 0);
    SetTrackEnabled(t, enabled);
    return t;
  };
  Track video1 = add(VideoMediaType, false);
  Track sound = add(SoundMediaType, true);
  Track text = add(TextMediaType, true);
  Track video2 = add(VideoMediaType, true);
  Track tc = add(TimeCodeMediaType, false);
  const long chr = movieTrackCharacteristic, both = chr | movieTrackEnabledOnly,
             type = movieTrackMediaType;
  const std::tuple<long, OSType, long, Track> cases[] = {
      {1, kCharacteristicCanSendVideo, both, text},
      {2, kCharacteristicCanSendVideo, both, video2},
      {3, kCharacteristicCanSendVideo, both, nullptr},
      {1, kCharacteristicCanSendVideo, chr, video1},
      {1, AudioMediaCharacteristic, both, sound},
      {2, AudioMediaCharacteristic, both, nullptr},
      {1, TimeCodeMediaType, type, tc},
      {1, TimeCodeMediaType, type | movieTrackEnabledOnly, nullptr},
      {2, VideoMediaType, type, video2},
      {0, VideoMediaType, type, nullptr}};
  for (auto [index, kind, flags, want] : cases)
    EXPECT_EQ(GetMovieIndTrackType(m, index, kind, flags), want) << index << " " << flags;
  // A track without media has no kind.
  Track bare = NewMovieTrack(m, 0, 0, 0);
  EXPECT_EQ(GetTrackMedia(bare), nullptr);
  EXPECT_EQ(GetMovieIndTrackType(m, 3, VideoMediaType, movieTrackMediaType), nullptr);
  Str255 name;
  ASSERT_EQ(MediaGetName(GetMediaHandler(GetTrackMedia(video2)), name, 0, nullptr), noErr);
  EXPECT_EQ(std::string((char*)name + 1, name[0]), "Video Track");
  DisposeMovie(m);
}

TEST(MovieModel, TrackReferences) {
  Movie m = NewMovie(0);
  Track fx = NewMovieTrack(m, 0, 0, 0);
  Track a = NewMovieTrack(m, 0, 0, 0);
  Track b = NewMovieTrack(m, 0, 0, 0);
  long idx = 0;
  EXPECT_EQ(AddTrackReference(fx, a, kTrackReferenceModifier, &idx), noErr);
  EXPECT_EQ(idx, 1);
  EXPECT_EQ(AddTrackReference(fx, b, kTrackReferenceModifier, &idx), noErr);
  EXPECT_EQ(idx, 2);
  EXPECT_EQ(AddTrackReference(fx, a, kTrackReferenceModifier, &idx), noErr);
  EXPECT_EQ(AddTrackReference(fx, b, kTrackReferenceTimeCode, &idx), noErr);
  EXPECT_EQ(idx, 1);
  EXPECT_EQ(AddTrackReference(fx, fx, kTrackReferenceModifier, &idx), paramErr);
  EXPECT_EQ(GetTrackReferenceCount(fx, kTrackReferenceModifier), 3);
  EXPECT_EQ(GetTrackReference(fx, kTrackReferenceModifier, 2), b);
  EXPECT_EQ(GetTrackReference(fx, kTrackReferenceModifier, 4), nullptr);
  EXPECT_EQ(GetNextTrackReferenceType(fx, 0), (OSType)kTrackReferenceModifier);
  EXPECT_EQ(GetNextTrackReferenceType(fx, kTrackReferenceModifier),
            (OSType)kTrackReferenceTimeCode);
  EXPECT_EQ(GetNextTrackReferenceType(fx, kTrackReferenceTimeCode), 0u);
  // Deleting from the top down removes every reference to `a` and keeps `b`'s.
  for (long i = GetTrackReferenceCount(fx, kTrackReferenceModifier); i >= 1; --i)
    if (GetTrackReference(fx, kTrackReferenceModifier, i) == a) {
      EXPECT_EQ(DeleteTrackReference(fx, kTrackReferenceModifier, i), noErr);
    }
  EXPECT_EQ(GetTrackReferenceCount(fx, kTrackReferenceModifier), 1);
  EXPECT_EQ(GetTrackReference(fx, kTrackReferenceModifier, 1), b);
  EXPECT_EQ(DeleteTrackReference(fx, kTrackReferenceModifier, 5), badTrackIndex);
  // A reference to a track of another movie is refused.
  Movie other = NewMovie(0);
  Track foreign = NewMovieTrack(other, 0, 0, 0);
  EXPECT_EQ(AddTrackReference(fx, foreign, kTrackReferenceModifier, &idx), paramErr);
  DisposeMovie(other);
  DisposeMovie(m);
}

// Where stepping lands over any edits is the time rule's property (time_test); here what it
// reports besides: the frame's duration, sync samples, and tracks with nothing to show.
TEST(MovieModel, InterestingTimesCountFrames) {
  VideoMovie v(12, 25);
  EXPECT_EQ(frameCount(v.track), 12);
  TimeValue t = -5, d = 0;
  GetTrackNextInterestingTime(v.track, nextTimeMediaSample | nextTimeEdgeOK, 50, fixed1, &t, &d);
  EXPECT_EQ(t, 50);
  EXPECT_EQ(d, 25);
  // Sync samples are every fifth.
  GetTrackNextInterestingTime(v.track, nextTimeSyncSample, 10, fixed1, &t, &d);
  EXPECT_EQ(t, 125);
  VideoMovie empty(0, 10);
  EXPECT_EQ(frameCount(empty.track), 0);
  EXPECT_EQ(frameCount(nullptr), 0);
}

TEST(MovieModel, MediaSamplesReadBack) {
  VideoMovie v(4, 10);
  Handle data = NewHandle(0);
  Handle desc = NewHandle(0);
  long size = 0, descIndex = 0, n = 0;
  TimeValue st = -1, dur = 0;
  short flags = -1;
  ASSERT_EQ(GetMediaSample(v.media, data, 0, &size, 25, &st, &dur, desc, &descIndex, 1, &n, &flags),
            noErr);
  EXPECT_EQ(size, 16);
  EXPECT_EQ(st, 20);
  EXPECT_EQ(dur, 10);
  EXPECT_EQ(descIndex, 1);
  EXPECT_EQ(flags, mediaSampleNotSync);
  EXPECT_EQ(((unsigned char*)*data)[0], 2);
  ASSERT_EQ(GetHandleSize(desc), (Size)sizeof(ImageDescription));
  EXPECT_EQ(((ImageDescription*)*desc)->cType, (CodecType)'raw ');
  // Times outside the media, and a sample larger than the allowed growth.
  EXPECT_EQ(mt::sample(v.media, 40, data), invalidTime);
  EXPECT_EQ(mt::sample(v.media, 0, data, nullptr, 8), maxSizeToGrowTooSmall);
  // Bad sample arguments (offset past the data, size not a multiple of the count, negative
  // duration) change nothing.
  Handle small = NewHandle(4);
  ImageDescriptionHandle d = mt::imageDescription('raw ', 4, 4);
  for (auto [offset, bytes, duration, count] :
       {std::array{2, 4, 10, 1}, {0, 3, 10, 2}, {0, 4, -1, 1}})
    EXPECT_EQ(AddMediaSample(v.media, small, offset, (unsigned long)bytes, duration,
                             (SampleDescriptionHandle)d, count, 0, nullptr),
              paramErr);
  EXPECT_EQ(GetMediaSampleCount(v.media), 4);
  // Several samples in one call split the data evenly.
  TimeValue t0 = 0;
  EXPECT_EQ(AddMediaSample(v.media, small, 0, 4, 5, (SampleDescriptionHandle)d, 2, 0, &t0), noErr);
  EXPECT_EQ(t0, 40);
  EXPECT_EQ(GetMediaSampleCount(v.media), 6);
  EXPECT_EQ(GetMediaSampleDescriptionCount(v.media), 1);
  for (Handle h : {small, (Handle)d, data, desc}) DisposeHandle(h);
}

// The first byte of the sample a track shows at a time (samples are filled with their number).
int shownByte(Track t, TimeValue time) {
  return mt::firstByte(GetTrackMedia(t), TrackTimeToMediaTime(time, t));
}

TEST(MovieModel, InsertSegmentAcrossTimeScales) {
  VideoMovie src(50, 512, 12800);  // 2 s at 25 fps
  SetMovieTimeScale(src.movie, 1000);
  Movie dst = NewMovie(0);
  Track copy = mt::videoTrack(dst), copy2 = mt::videoTrack(dst);
  Media media = GetTrackMedia(copy);
  ASSERT_EQ(BeginMediaEdits(media), noErr);
  ASSERT_EQ(InsertTrackSegment(src.track, copy, 0, 1000, 0), noErr);
  ASSERT_EQ(EndMediaEdits(media), noErr);
  EXPECT_EQ(GetTrackDuration(copy), 600);
  EXPECT_EQ(GetMediaSampleCount(media), 25);
  EXPECT_EQ(GetMediaDuration(media), 600);
  EXPECT_EQ(frameCount(copy), 25);
  // Sample 10 kept its bytes and its key-frame flag.
  short flags = -1;
  EXPECT_EQ(mt::firstByte(media, 240, &flags), 10);
  EXPECT_EQ(flags, 0);
  // A segment from the middle starts at the key frame before it.
  ASSERT_EQ(InsertTrackSegment(src.track, copy2, 520, 400, 0), noErr);
  EXPECT_EQ(GetTrackDuration(copy2), 240);
  EXPECT_EQ(mt::firstByte(GetTrackMedia(copy2), 0), 10);
  EXPECT_EQ(shownByte(copy2, 0), 13);
  // Media of another type, and a segment past the source's end, are refused.
  Track snd = NewMovieTrack(dst, 0, 0, kFullVolume);
  NewTrackMedia(snd, SoundMediaType, 600, nullptr, 0);
  EXPECT_EQ(InsertTrackSegment(src.track, snd, 0, 100, 0), mediaTypesDontMatch);
  EXPECT_EQ(InsertTrackSegment(src.track, copy2, 1500, 1000, 0), invalidDuration);
  DisposeMovie(dst);
}

TEST(MovieModel, MovieBoxFollowsTracksAndMatrix) {
  Movie m = NewMovie(0);
  Rect r;
  GetMovieBox(m, &r);
  EXPECT_EQ(r.right - r.left, 0);
  Track a = NewMovieTrack(m, 320 << 16, 240 << 16, 0);
  NewTrackMedia(a, VideoMediaType, 600, nullptr, 0);
  Track b = NewMovieTrack(m, 160 << 16, 480 << 16, 0);
  NewTrackMedia(b, VideoMediaType, 600, nullptr, 0);
  GetMovieBox(m, &r);
  EXPECT_EQ(std::make_tuple(r.right, r.bottom), std::make_tuple(320, 480));
  Rect box{10, 20, 250, 180};
  SetMovieBox(m, &box);
  GetMovieBox(m, &r);
  EXPECT_EQ(std::make_tuple(r.top, r.left, r.bottom, r.right), std::make_tuple(10, 20, 250, 180));
  Rect bad{10, 10, 0, 0};
  SetMovieBox(m, &bad);
  EXPECT_EQ(GetMoviesError(), invalidRect);
  DisposeMovie(m);
}

TEST(MovieModel, SettingsCopyAndTimeBase) {
  Movie a = NewMovie(0), b = NewMovie(0);
  SetMoviePreferredRate(a, fixed1 * 2);
  SetMoviePreferredVolume(a, 0x80);
  long loop = 1;
  ASSERT_EQ(SetUserDataItem(GetMovieUserData(a), &loop, 4, 'LOOP', 0), noErr);
  EXPECT_EQ(CopyMovieSettings(a, b), noErr);
  EXPECT_EQ(GetMoviePreferredRate(b), fixed1 * 2);
  EXPECT_EQ(GetMoviePreferredVolume(b), 0x80);
  EXPECT_EQ(CountUserDataType(GetMovieUserData(b), 'LOOP'), 1);
  TimeBase tb = GetMovieTimeBase(b);
  ASSERT_NE(tb, nullptr);
  SetTimeBaseFlags(tb, loopTimeBase | palindromeLoopTimeBase);
  EXPECT_EQ(GetTimeBaseFlags(GetMovieTimeBase(b)), loopTimeBase | palindromeLoopTimeBase);
  SetMoviePlayHints(b, hintsLoop, hintsLoop);
  SetMoviePlayHints(b, hintsAllowDynamicResize, hintsAllowDynamicResize);
  SetMoviePlayHints(b, 0, hintsLoop);
  EXPECT_EQ(VTGetMoviePlayHints(b), hintsAllowDynamicResize);
  Track ta = NewMovieTrack(a, 0, 0, 0), tb2 = NewMovieTrack(b, 0, 0, 0);
  SetTrackLayer(ta, -2);
  SetTrackEnabled(ta, false);
  EXPECT_EQ(CopyTrackSettings(ta, tb2), noErr);
  EXPECT_EQ(GetTrackLayer(tb2), -2);
  EXPECT_FALSE(GetTrackEnabled(tb2));
  DisposeMovie(a);
  DisposeMovie(b);
}

TEST(MovieEditing, CutPasteAndUndo) {
  VideoMovie v(10, 60);  // 600 units, one sample per 60
  Movie m = v.movie;
  MovieEditState before = NewMovieEditState(m);
  ASSERT_NE(before, nullptr);
  SetMovieSelection(m, 120, 180);
  Movie cut = CutMovieSelection(m);
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(GetMovieDuration(cut), 180);
  EXPECT_EQ(GetMovieDuration(m), 420);
  EXPECT_EQ(mt::selection(m), std::make_pair(120, 0));
  // What follows the cut moved up: time 120 now shows the sample that was at 300.
  EXPECT_EQ(shownByte(v.track, 130), 5);
  // Paste it at the start: the movie is whole again, in another order.
  SetMovieSelection(m, 0, 0);
  PasteMovieSelection(m, cut);
  EXPECT_EQ(GetMoviesError(), noErr);
  EXPECT_EQ(GetMovieDuration(m), 600);
  EXPECT_EQ(GetMovieTrackCount(m), 1);
  EXPECT_EQ(shownByte(v.track, 10), 2);
  EXPECT_EQ(shownByte(v.track, 170), 4);
  EXPECT_EQ(shownByte(v.track, 190), 0);
  EXPECT_EQ(mt::selection(m), std::make_pair(0, 180));
  // Undo to the saved state: same track object, original timeline.
  EXPECT_EQ(UseMovieEditState(m, before), noErr);
  EXPECT_EQ(GetMovieIndTrack(m, 1), v.track);
  EXPECT_EQ(shownByte(v.track, 130), 2);
  EXPECT_EQ(GetMediaSampleCount(v.media), 10);
  EXPECT_EQ(DisposeMovieEditState(before), noErr);
  EXPECT_EQ(DisposeMovieEditState(before), paramErr);
  // An empty selection copies an empty movie; clearing it changes nothing.
  SetMovieSelection(m, 100, 0);
  Movie none = CopyMovieSelection(m);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(GetMovieDuration(none), 0);
  ClearMovieSelection(m);
  EXPECT_EQ(GetMovieDuration(m), 600);
  // Pasting a movie with a sound track into a video-only movie adds a track for it.
  Movie snd = NewMovie(0);
  Track st = NewMovieTrack(snd, 0, 0, kFullVolume);
  Media sm = NewTrackMedia(st, SoundMediaType, 8000, nullptr, 0);
  Handle sd = NewHandleClear(sizeof(SoundDescription));
  (*(SoundDescriptionHandle)sd)->dataFormat = 'twos';
  (*(SoundDescriptionHandle)sd)->numChannels = 1;
  (*(SoundDescriptionHandle)sd)->sampleSize = 16;
  Handle pcm = NewHandleClear(16000);
  ASSERT_EQ(AddMediaSample(sm, pcm, 0, 16000, 1, sd, 8000, 0, nullptr), noErr);
  InsertMediaIntoTrack(st, 0, 0, 8000, fixed1);
  SetMovieSelection(m, 600, 0);
  PasteMovieSelection(m, snd);
  EXPECT_EQ(GetMovieTrackCount(m), 2);
  EXPECT_EQ(GetMovieDuration(m), 1200);
  EXPECT_NE(GetMovieIndTrackType(m, 1, AudioMediaCharacteristic, movieTrackCharacteristic),
            nullptr);
  for (Handle h : {sd, pcm}) DisposeHandle(h);
  for (Movie k : {snd, none, cut}) DisposeMovie(k);
}

}  // namespace
