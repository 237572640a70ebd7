// The movie utilities, checked against movies built with the movie layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>

#include "QTUtilities.h"

namespace {

struct MovieFixture : ::testing::Test {
  Movie movie = nullptr;
  void SetUp() override {
    movie = NewMovie(0);
    ASSERT_NE(movie, nullptr);
  }
  void TearDown() override {
    if (movie) DisposeMovie(movie);
    VTResetGestaltAnswers();
  }
  Track addTrack(OSType mediaType, int samples, TimeValue sampleDuration = 100) {
    Track t = NewMovieTrack(movie, 320 << 16, 240 << 16, kNoVolume);
    Media m = NewTrackMedia(t, mediaType, 600, nullptr, 0);
    EXPECT_TRUE(t && m);
    ImageDescriptionHandle desc = QTUtils_MakeSampleDescription('raw ', 2, 2);
    Handle data = NewHandleClear(16);
    for (int i = 0; i < samples; ++i)
      EXPECT_EQ(AddMediaSample(m, data, 0, 16, sampleDuration, (SampleDescriptionHandle)desc, 1, 0,
                               nullptr),
                noErr);
    if (samples > 0) {
      EXPECT_EQ(InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(m), fixed1), noErr);
    }
    DisposeHandle(data);
    DisposeHandle((Handle)desc);
    return t;
  }
};

}  // namespace

// Movie user-data items: absent, of the wrong size (as a damaged file may hold) or present;
// then the effects version, Pascal strings, track helpers, streaming and the saved volume.
TEST_F(MovieFixture, UserDataTracksAndStrings) {
  UserData ud = GetMovieUserData(movie);
  Point p = {0, 0};
  long mode = -1;
  EXPECT_NE(QTUtils_GetWindowPositionFromFile(movie, &p), noErr);
  EXPECT_NE(QTUtils_GetMovieFileLoopingInfo(movie, &mode), noErr);
  EXPECT_EQ(std::tie(mode, p.v, p.h), std::make_tuple((long)kNoLooping, (short)50, (short)50));
  EXPECT_EQ(QTUtils_GetWindowPositionFromFile(nullptr, &p), paramErr);
  EXPECT_FALSE(QTUtils_IsQTVRMovie(movie));
  for (long size : {2, 6}) {
    unsigned char bytes[6] = {0, 1, 0, 1, 0, 1};
    for (OSType type : {(OSType)'LOOP', (OSType)'WLOC', (OSType)'ctyp'}) {
      while (CountUserDataType(ud, type) > 0) RemoveUserData(ud, type, 1);
      ASSERT_EQ(SetUserDataItem(ud, bytes, size, type, 0), noErr);
    }
    QTUtils_GetMovieFileLoopingInfo(movie, &mode);
    QTUtils_GetWindowPositionFromFile(movie, &p);
    EXPECT_EQ(std::tie(mode, p.v, p.h), std::make_tuple(2L, (short)50, (short)50)) << size;
    EXPECT_EQ(QTUtils_GetControllerType(movie), (OSType)kUnknownType) << size;
  }
  unsigned char wloc[4] = {0x00, 0x64, 0x00, 0xC8};
  ASSERT_EQ(SetUserDataItem(ud, wloc, 4, 'WLOC', 0), noErr);
  EXPECT_EQ(QTUtils_GetWindowPositionFromFile(movie, &p), noErr);
  EXPECT_EQ(std::tie(p.v, p.h), std::make_tuple((short)100, (short)200));
  // Writers replace stale items and store big-endian; "no looping" removes the item.
  EXPECT_EQ(QTUtils_SetMovieFileLoopingInfo(movie, kPalindromeLooping), noErr);
  unsigned char raw[4] = {9, 9, 9, 9};
  ASSERT_EQ(GetUserDataItem(ud, raw, 4, 'LOOP', 0), noErr);
  EXPECT_EQ(std::tie(raw[0], raw[3]), std::make_tuple((unsigned char)0, (unsigned char)1));
  EXPECT_EQ(QTUtils_SetMovieFileLoopingInfo(movie, kNoLooping), noErr);
  EXPECT_EQ(CountUserDataType(ud, 'LOOP'), 0);
  EXPECT_EQ(QTUtils_SetControllerType(movie, kQTVRQTVRType), noErr);
  EXPECT_EQ(CountUserDataType(ud, 'ctyp'), 1);
  ASSERT_EQ(GetUserDataItem(ud, raw, 4, 'ctyp', 0), noErr);
  EXPECT_EQ(std::string((char*)raw, 4), "qtvr");
  EXPECT_TRUE(QTUtils_IsQTVRMovie(movie));
  EXPECT_EQ(QTUtils_SetControllerType(nullptr, 'abcd'), paramErr);

  // Video effects need version 3 or later; Pascal strings convert both ways, cut at 255.
  struct {
    SInt32 err, answer;
    bool effects;
  } cases[] = {{noErr, 0x03000000, true},
               {noErr, 0x02FF0000, false},
               {noErr, (SInt32)0xFF000000, true},  // the high half is compared unsigned
               {-5551, 0, false}};
  for (auto& c : cases) {
    VTSetGestaltAnswer(gestaltQuickTime, (OSErr)c.err, c.answer);
    EXPECT_EQ(QTUtils_HasQuickTimeVideoEffects(), c.effects) << std::hex << c.answer;
  }
  VTResetGestaltAnswers();
  EXPECT_TRUE(QTUtils_HasQuickTimeVideoEffects());

  for (std::string text :
       {std::string(), std::string("Save Effect Movie File As:"), std::string(300, 'q')}) {
    StringPtr pascal = QTUtils_ConvertCToPascalString(text.data());
    ASSERT_NE(pascal, nullptr);
    size_t n = std::min<size_t>(text.size(), 255);  // never wraps to a short length
    EXPECT_EQ(pascal[0], n);
    char* c = QTUtils_ConvertPascalToCString(pascal);
    EXPECT_EQ(std::string(c), text.substr(0, n));
    free(c);
    free(pascal);
  }

  // Track names (a zero-byte one reads as none), frame counts, references, streaming, volume.
  Track a = addTrack(VideoMediaType, 5, 40);
  Track b = addTrack(VideoMediaType, 1);
  Track fx = addTrack(VideoMediaType, 0);
  EXPECT_EQ(QTUtils_GetFrameCount(a), 5);
  EXPECT_EQ(QTUtils_GetFrameDuration(a), 40);
  EXPECT_EQ(QTUtils_GetFrameCount(fx), 0);
  EXPECT_EQ(QTUtils_GetFrameCount(nullptr), -1);
  Handle h = NewHandle(0);
  ASSERT_EQ(AddUserData(GetTrackUserData(a), h, kUserDataName), noErr);
  ASSERT_EQ(AddUserData(GetTrackUserData(a), h, kUserDataName), noErr);
  DisposeHandle(h);
  EXPECT_EQ(QTUtils_GetTrackName(a), nullptr);
  char name[] = "Left camera";
  EXPECT_EQ(QTUtils_SetTrackName(a, name), noErr);
  EXPECT_EQ(CountUserDataType(GetTrackUserData(a), kUserDataName), 1);
  char* got = QTUtils_GetTrackName(a);
  EXPECT_STREQ(got, "Left camera");
  free(got);
  EXPECT_EQ(QTUtils_SetTrackName(a, nullptr), paramErr);
  long idx = 0;
  ASSERT_EQ(AddTrackReference(fx, a, kTrackReferenceModifier, &idx), noErr);
  ASSERT_EQ(AddTrackReference(fx, b, kTrackReferenceModifier, &idx), noErr);
  ASSERT_EQ(AddTrackReference(fx, a, kTrackReferenceModifier, &idx), noErr);
  ASSERT_EQ(AddTrackReference(b, a, 'chap', &idx), noErr);
  EXPECT_EQ(QTUtils_DeleteAllReferencesToTrack(a), noErr);
  EXPECT_EQ(GetTrackReferenceCount(fx, kTrackReferenceModifier), 1);
  EXPECT_EQ(GetTrackReference(fx, kTrackReferenceModifier, 1), b);
  EXPECT_EQ(GetTrackReferenceCount(b, 'chap'), 0);

  // A streamed movie is one with an enabled streaming track.
  EXPECT_FALSE(QTUtils_IsStreamedMovie(movie));
  Track strm = addTrack('strm', 0);
  EXPECT_TRUE(QTUtils_IsStreamedMovie(movie));
  SetTrackEnabled(strm, false);
  EXPECT_FALSE(QTUtils_IsStreamedMovie(movie));

  // The saved volume follows the current one's magnitude, muted or not.
  SetMoviePreferredVolume(movie, 256);
  SetMovieVolume(movie, -256);
  EXPECT_EQ(QTUtils_UpdateMovieVolumeSetting(movie), noErr);
  EXPECT_EQ(GetMoviePreferredVolume(movie), 256);
  SetMoviePreferredVolume(movie, 128);
  EXPECT_EQ(QTUtils_UpdateMovieVolumeSetting(movie), noErr);
  EXPECT_EQ(GetMoviePreferredVolume(movie), 256);
}
