// The movie utilities, checked against movies built with the movie layer.
#include <gtest/gtest.h>

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
    EXPECT_NE(t, nullptr);
    Media m = NewTrackMedia(t, mediaType, 600, nullptr, 0);
    EXPECT_NE(m, nullptr);
    if (!t || !m || samples == 0) return t;
    ImageDescriptionHandle desc = QTUtils_MakeSampleDescription('raw ', 2, 2);
    Handle data = NewHandleClear(16);
    EXPECT_EQ(BeginMediaEdits(m), noErr);
    for (int i = 0; i < samples; ++i) {
      TimeValue at = 0;
      EXPECT_EQ(AddMediaSample(m, data, 0, 16, sampleDuration, (SampleDescriptionHandle)desc, 1, 0,
                               &at),
                noErr);
    }
    EXPECT_EQ(EndMediaEdits(m), noErr);
    EXPECT_EQ(InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(m), fixed1), noErr);
    DisposeHandle(data);
    DisposeHandle((Handle)desc);
    return t;
  }
};

std::string takeCString(char* s) {
  std::string out = s ? s : "<null>";
  free(s);
  return out;
}

}  // namespace

TEST(Capabilities, VersionThresholds) {
  VTSetGestaltAnswer(gestaltQuickTime, noErr, 0x03000000);
  EXPECT_TRUE(QTUtils_HasQuickTimeVideoEffects());
  EXPECT_TRUE(QTUtils_HasWiredSprites());
  VTSetGestaltAnswer(gestaltQuickTime, noErr, 0x02FF0000);
  EXPECT_FALSE(QTUtils_HasQuickTimeVideoEffects());
  EXPECT_FALSE(QTUtils_HasWiredSprites());
  VTSetGestaltAnswer(gestaltQuickTime, noErr, 0x02090000);
  EXPECT_TRUE(QTUtils_HasFullScreenSupport());
  VTSetGestaltAnswer(gestaltQuickTime, noErr, 0x02080000);
  EXPECT_FALSE(QTUtils_HasFullScreenSupport());
  // The high half is compared unsigned.
  VTSetGestaltAnswer(gestaltQuickTime, noErr, (SInt32)0xFF000000);
  EXPECT_TRUE(QTUtils_HasQuickTimeVideoEffects());
  VTSetGestaltAnswer(gestaltQuickTime, -5551, 0);
  EXPECT_FALSE(QTUtils_IsQuickTimeInstalled());
  EXPECT_EQ(QTUtils_GetQTVersion(), 0);
  EXPECT_FALSE(QTUtils_HasQuickTimeVideoEffects());
  EXPECT_FALSE(QTUtils_HasFullScreenSupport());
  // The feature bit alone does not make the library present: its entry point is unbound here.
  VTSetGestaltAnswer(gestaltQuickTimeFeatures, noErr, 1);
  EXPECT_FALSE(QTUtils_IsQuickTimeCFMInstalled());
  VTResetGestaltAnswers();
  EXPECT_TRUE(QTUtils_IsQuickTimeInstalled());
  EXPECT_TRUE(QTUtils_HasQuickTimeVideoEffects());
}

TEST_F(MovieFixture, StreamedAndMediaTypeQueriesSkipDisabledTracks) {
  Track strm = addTrack('strm', 0);
  EXPECT_TRUE(QTUtils_IsStreamedMovie(movie));
  SetTrackEnabled(strm, false);
  EXPECT_FALSE(QTUtils_IsStreamedMovie(movie));
  EXPECT_FALSE(QTUtils_IsMediaTypeInMovie(movie, 'strm'));
  Track tc = addTrack(TimeCodeMediaType, 0);
  SetTrackEnabled(tc, false);
  EXPECT_TRUE(QTUtils_MovieHasTimeCodeTrack(movie));  // enabled or not
  EXPECT_FALSE(QTUtils_MovieHasSoundTrack(movie));
  EXPECT_EQ(QTUtils_GetSoundMediaHandler(movie), nullptr);
  addTrack(SoundMediaType, 0);
  EXPECT_TRUE(QTUtils_MovieHasSoundTrack(movie));
}

TEST_F(MovieFixture, LoopingItemReadWriteAndDefaults) {
  long mode = -1;
  EXPECT_NE(QTUtils_GetMovieFileLoopingInfo(movie, &mode), noErr);
  EXPECT_EQ(mode, kNoLooping);
  EXPECT_EQ(QTUtils_GetMovieFileLoopingInfo(nullptr, &mode), paramErr);
  EXPECT_EQ(mode, kNoLooping);

  UserData ud = GetMovieUserData(movie);
  // Two stale items: writing a mode leaves exactly one, writing "no looping" none.
  SInt32 one = EndianS32_NtoB(1), zero = EndianS32_NtoB(0);
  Handle h1 = NewHandle(4), h2 = NewHandle(4);
  std::memcpy(*h1, &one, 4);
  std::memcpy(*h2, &zero, 4);
  ASSERT_EQ(AddUserData(ud, h1, 'LOOP'), noErr);
  ASSERT_EQ(AddUserData(ud, h2, 'LOOP'), noErr);
  DisposeHandle(h1);
  DisposeHandle(h2);
  EXPECT_EQ(QTUtils_GetMovieFileLoopingInfo(movie, &mode), noErr);
  EXPECT_EQ(mode, kPalindromeLooping);  // the first item counts

  EXPECT_EQ(QTUtils_SetMovieFileLoopingInfo(movie, kNormalLooping), noErr);
  EXPECT_EQ(CountUserDataType(ud, 'LOOP'), 1);
  EXPECT_EQ(QTUtils_GetMovieFileLoopingInfo(movie, &mode), noErr);
  EXPECT_EQ(mode, kNormalLooping);
  unsigned char raw[4] = {9, 9, 9, 9};
  ASSERT_EQ(GetUserDataItem(ud, raw, 4, 'LOOP', 0), noErr);
  EXPECT_EQ(raw[0] | raw[1] | raw[2] | raw[3], 0);  // stored big-endian 0

  EXPECT_EQ(QTUtils_SetMovieFileLoopingInfo(movie, kPalindromeLooping), noErr);
  ASSERT_EQ(GetUserDataItem(ud, raw, 4, 'LOOP', 0), noErr);
  EXPECT_EQ(raw[3], 1);
  EXPECT_EQ(raw[0], 0);

  EXPECT_EQ(QTUtils_SetMovieFileLoopingInfo(movie, kNoLooping), noErr);
  EXPECT_EQ(CountUserDataType(ud, 'LOOP'), 0);
  EXPECT_EQ(QTUtils_SetMovieFileLoopingInfo(movie, 7), noErr);
  EXPECT_EQ(CountUserDataType(ud, 'LOOP'), 0);
  EXPECT_EQ(QTUtils_SetMovieFileLoopingInfo(nullptr, 0), paramErr);
}

TEST_F(MovieFixture, WindowPositionItem) {
  Point p = {0, 0};
  EXPECT_NE(QTUtils_GetWindowPositionFromFile(movie, &p), noErr);
  EXPECT_EQ(p.v, 50);
  EXPECT_EQ(p.h, 50);
  unsigned char wloc[4] = {0x00, 0x64, 0x00, 0xC8};
  ASSERT_EQ(SetUserDataItem(GetMovieUserData(movie), wloc, 4, 'WLOC', 0), noErr);
  EXPECT_EQ(QTUtils_GetWindowPositionFromFile(movie, &p), noErr);
  EXPECT_EQ(p.v, 100);
  EXPECT_EQ(p.h, 200);
  EXPECT_EQ(QTUtils_GetWindowPositionFromFile(nullptr, &p), paramErr);
  EXPECT_EQ(p.v, 50);
}

TEST_F(MovieFixture, ItemsOfTheWrongSizeCountAsAbsent) {
  // As a damaged or foreign file may hold them: shorter or longer than the 4 bytes read.
  UserData ud = GetMovieUserData(movie);
  for (long size : {2, 6}) {
    unsigned char bytes[6] = {0, 1, 0, 1, 0, 1};
    for (OSType type : {(OSType)'LOOP', (OSType)'WLOC', (OSType)'ctyp'}) {
      while (CountUserDataType(ud, type) > 0) RemoveUserData(ud, type, 1);
      ASSERT_EQ(SetUserDataItem(ud, bytes, size, type, 0), noErr);
    }
    long mode = 0;
    Point p = {0, 0};
    QTUtils_GetMovieFileLoopingInfo(movie, &mode);
    QTUtils_GetWindowPositionFromFile(movie, &p);
    EXPECT_EQ(std::tie(mode, p.v, p.h), std::make_tuple(2L, (short)50, (short)50)) << size;
    EXPECT_EQ(QTUtils_GetControllerType(movie), (OSType)kUnknownType) << size;
  }
}

TEST_F(MovieFixture, TextItemsIncludingEmptyText) {
  char empty[] = "";
  char name[] = "Sunset";
  EXPECT_EQ(QTUtils_AddMovieNameToMovie(movie, name), noErr);
  EXPECT_EQ(QTUtils_AddCopyrightToMovie(movie, empty), noErr);
  UserData ud = GetMovieUserData(movie);
  EXPECT_EQ(CountUserDataType(ud, kUserDataTextFullName), 1);
  EXPECT_EQ(CountUserDataType(ud, kUserDataTextCopyright), 1);
  Handle text = NewHandle(0);
  ASSERT_EQ(GetUserDataText(ud, text, kUserDataTextFullName, 1, -1), noErr);
  EXPECT_EQ(std::string(*text, GetHandleSize(text)), "Sunset");
  ASSERT_EQ(GetUserDataText(ud, text, kUserDataTextCopyright, 1, -1), noErr);
  EXPECT_EQ(GetHandleSize(text), 0);
  DisposeHandle(text);
  EXPECT_EQ(QTUtils_AddMovieInfoToMovie(nullptr, name), paramErr);
}

TEST_F(MovieFixture, ControllerTypeItem) {
  EXPECT_EQ(QTUtils_GetControllerType(movie), (OSType)kUnknownType);
  EXPECT_EQ(QTUtils_GetControllerType(nullptr), (OSType)kUnknownType);
  EXPECT_FALSE(QTUtils_IsQTVRMovie(movie));
  EXPECT_EQ(QTUtils_SetControllerType(movie, kQTVRQTVRType), noErr);
  EXPECT_EQ(QTUtils_GetControllerType(movie), (OSType)kQTVRQTVRType);
  EXPECT_TRUE(QTUtils_IsQTVRMovie(movie));
  unsigned char raw[4];
  ASSERT_EQ(GetUserDataItem(GetMovieUserData(movie), raw, 4, 'ctyp', 0), noErr);
  EXPECT_EQ(std::string((char*)raw, 4), "qtvr");  // big-endian in the item
  EXPECT_EQ(QTUtils_SetControllerType(movie, kQTVROldObjectType), noErr);
  EXPECT_TRUE(QTUtils_IsQTVRMovie(movie));
  EXPECT_EQ(CountUserDataType(GetMovieUserData(movie), 'ctyp'), 1);
  EXPECT_EQ(QTUtils_SetControllerType(nullptr, 'abcd'), paramErr);
  EXPECT_EQ(QTUtils_ChangeControllerType(nullptr, 'abcd', 0), nullptr);
}

TEST_F(MovieFixture, TrackNames) {
  Track t = addTrack(VideoMediaType, 1);
  EXPECT_EQ(QTUtils_GetTrackName(t), nullptr);
  UserData ud = GetTrackUserData(t);
  Handle h = NewHandle(0);  // a zero-byte name reads as no name
  ASSERT_EQ(AddUserData(ud, h, kUserDataName), noErr);
  EXPECT_EQ(QTUtils_GetTrackName(t), nullptr);
  ASSERT_EQ(AddUserData(ud, h, kUserDataName), noErr);
  ASSERT_EQ(AddUserData(ud, h, kUserDataName), noErr);
  DisposeHandle(h);
  char name[] = "Left camera";
  EXPECT_EQ(QTUtils_SetTrackName(t, name), noErr);
  EXPECT_EQ(CountUserDataType(ud, kUserDataName), 1);
  EXPECT_EQ(takeCString(QTUtils_GetTrackName(t)), "Left camera");
  EXPECT_EQ(QTUtils_SetTrackName(nullptr, name), paramErr);
  EXPECT_EQ(QTUtils_SetTrackName(t, nullptr), paramErr);
  EXPECT_EQ(QTUtils_GetTrackName(nullptr), nullptr);
}

TEST_F(MovieFixture, TrackNamesByTypeNumberTracksOfTheSameType) {
  Track v1 = addTrack(VideoMediaType, 1);
  std::string single = takeCString(QTUtils_MakeTrackNameByType(v1));
  ASSERT_NE(single, "<null>");
  EXPECT_FALSE(single.empty());
  Track v2 = addTrack(VideoMediaType, 1);
  Track s1 = addTrack(SoundMediaType, 1);
  Track v3 = addTrack(VideoMediaType, 1);
  EXPECT_EQ(takeCString(QTUtils_MakeTrackNameByType(v1)), single + " 1");
  EXPECT_EQ(takeCString(QTUtils_MakeTrackNameByType(v2)), single + " 2");
  EXPECT_EQ(takeCString(QTUtils_MakeTrackNameByType(v3)), single + " 3");
  std::string sound = takeCString(QTUtils_MakeTrackNameByType(s1));
  EXPECT_NE(sound, single);
  EXPECT_EQ(QTUtils_MakeTrackNameByType(nullptr), nullptr);
}

TEST_F(MovieFixture, FrameCountAndDuration) {
  Track empty = addTrack(VideoMediaType, 0);
  EXPECT_EQ(QTUtils_GetFrameCount(empty), 0);
  EXPECT_EQ(QTUtils_GetFrameCount(nullptr), -1);
  Track five = addTrack(VideoMediaType, 5, 40);
  EXPECT_EQ(QTUtils_GetFrameCount(five), 5);
  EXPECT_EQ(QTUtils_GetFrameDuration(five), 40);
  EXPECT_EQ(QTUtils_GetFrameDuration(empty), 0);
}

TEST_F(MovieFixture, DeletingReferencesToATrackKeepsOthers) {
  Track a = addTrack(VideoMediaType, 1);
  Track b = addTrack(VideoMediaType, 1);
  Track fx = addTrack(VideoMediaType, 1);
  Track other = addTrack(TimeCodeMediaType, 1);
  long idx = 0;
  ASSERT_EQ(AddTrackReference(fx, a, kTrackReferenceModifier, &idx), noErr);
  ASSERT_EQ(AddTrackReference(fx, b, kTrackReferenceModifier, &idx), noErr);
  ASSERT_EQ(AddTrackReference(fx, a, kTrackReferenceModifier, &idx), noErr);
  ASSERT_EQ(AddTrackReference(fx, other, kTrackReferenceTimeCode, &idx), noErr);
  ASSERT_EQ(AddTrackReference(b, a, 'chap', &idx), noErr);
  EXPECT_EQ(QTUtils_DeleteAllReferencesToTrack(a), noErr);
  EXPECT_EQ(GetTrackReferenceCount(fx, kTrackReferenceModifier), 1);
  EXPECT_EQ(GetTrackReference(fx, kTrackReferenceModifier, 1), b);
  EXPECT_EQ(GetTrackReference(fx, kTrackReferenceTimeCode, 1), other);
  EXPECT_EQ(GetTrackReferenceCount(b, 'chap'), 0);
  EXPECT_EQ(QTUtils_DeleteAllReferencesToTrack(nullptr), paramErr);
}

TEST_F(MovieFixture, SavedVolumeFollowsTheCurrentMagnitude) {
  SetMoviePreferredVolume(movie, 256);
  SetMovieVolume(movie, -256);  // muted at full volume
  EXPECT_EQ(QTUtils_UpdateMovieVolumeSetting(movie), noErr);
  EXPECT_EQ(GetMoviePreferredVolume(movie), 256);
  SetMoviePreferredVolume(movie, 128);
  EXPECT_EQ(QTUtils_UpdateMovieVolumeSetting(movie), noErr);
  EXPECT_EQ(GetMoviePreferredVolume(movie), 256);
}

TEST(Strings, PascalAndCConversions) {
  char empty[] = "";
  StringPtr p = QTUtils_ConvertCToPascalString(empty);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 0);
  free(p);
  char text[] = "Save Effect Movie File As:";
  p = QTUtils_ConvertCToPascalString(text);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 26);
  EXPECT_EQ(std::memcmp(p + 1, text, 26), 0);
  char* c = QTUtils_ConvertPascalToCString(p);
  EXPECT_STREQ(c, text);
  free(c);
  free(p);
  unsigned char zero[1] = {0};
  c = QTUtils_ConvertPascalToCString(zero);
  EXPECT_STREQ(c, "");
  free(c);
  // Longer than a length byte can say: cut at 255 instead of wrapping to a short length.
  std::string longText(300, 'q');
  p = QTUtils_ConvertCToPascalString(longText.data());
  EXPECT_EQ(p[0], 255);
  free(p);
}

TEST(Strings, FloatToBigEndian) {
  float f = 1.0f;  // 0x3F800000
  QTUtils_ConvertFloatToBigEndian(&f);
  unsigned char bytes[4];
  std::memcpy(bytes, &f, 4);
  EXPECT_EQ(bytes[0], 0x3F);
  EXPECT_EQ(bytes[1], 0x80);
  EXPECT_EQ(bytes[3], 0x00);
}

TEST(Preferences, ConnectionSpeedRoundTripAndBadRecords) {
  EXPECT_EQ(QTUtils_SetUsersConnectionSpeed(5600), noErr);
  EXPECT_EQ(QTUtils_GetUsersConnectionSpeed(), 5600);
  // A record of the wrong size reads as the modem default.
  QTAtomContainer c = nullptr;
  ASSERT_EQ(QTNewAtomContainer(&c), noErr);
  unsigned char eight[8] = {0, 0, 0x15, 0xE0, 0, 0, 0, 0};
  ASSERT_EQ(QTInsertChild(c, kParentAtomIsContainer, 'cspd', 1, 0, 8, eight, nullptr), noErr);
  ASSERT_EQ(SetQuickTimePreference('cspd', c), noErr);
  EXPECT_EQ(QTUtils_GetUsersConnectionSpeed(), 2800);
  QTDisposeAtomContainer(c);
  // No 'cspd' atom at all: also the default.
  ASSERT_EQ(QTNewAtomContainer(&c), noErr);
  ASSERT_EQ(SetQuickTimePreference('cspd', c), noErr);
  EXPECT_EQ(QTUtils_GetUsersConnectionSpeed(), 2800);
  QTDisposeAtomContainer(c);
  EXPECT_EQ(QTUtils_SetUsersConnectionSpeed(2800), noErr);
}
