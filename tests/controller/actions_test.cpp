// The controller's action switches and notices, through MCDoAction.
#include <MacErrors.h>

#include "fixtures.h"
#include "movie_window.h"

namespace {

class Actions : public vt_test::MovieWindowTest {
 protected:
  void SetUp() override {
    openInWindow(vt_test::fixture("act_grey.mov",
                                  "-f lavfi -i color=c=gray:s=160x120:r=10:d=1 "
                                  "-c:v png"));
  }
  Boolean get(short action) {
    Boolean b = 2;
    EXPECT_EQ(MCDoAction(mc, action, &b), noErr);
    return b;
  }
};

// Each switch reads back what was set, both ways, and a read with nowhere to write is refused.
TEST_F(Actions, SwitchesReadBackWhatWasSet) {
  const struct {
    short set, get;
  } switches[] = {{mcActionSetLooping, mcActionGetLooping},
                  {mcActionSetLoopIsPalindrome, mcActionGetLoopIsPalindrome},
                  {mcActionSetPlaySelection, mcActionGetPlaySelection},
                  {mcActionSetPlayEveryFrame, mcActionGetPlayEveryFrame},
                  {mcActionSetKeysEnabled, mcActionGetKeysEnabled},
                  {mcActionSetControllerKeysEnabled, mcActionGetKeysEnabled},
                  {mcActionSetDragEnabled, mcActionGetDragEnabled},
                  {mcActionSetUseBadge, mcActionGetUseBadge}};
  for (auto s : switches) {
    SCOPED_TRACE(s.set);
    for (intptr_t value : {1, 0, 7}) {
      ASSERT_EQ(MCDoAction(mc, s.set, (void*)value), noErr);
      EXPECT_EQ(get(s.get), value != 0);
    }
    EXPECT_EQ(MCDoAction(mc, s.get, nullptr), paramErr);
  }
}

// Notices are accepted and change nothing; an unknown action is not.
TEST_F(Actions, NoticesAreAcceptedAndUnknownActionsRefused) {
  for (short notice :
       {mcActionSuspend, mcActionResume, mcActionControllerSizeChanged, mcActionMouseDown,
        mcActionKey, mcActionMovieClick, mcActionBadgeClick, mcActionShowBalloon})
    EXPECT_EQ(MCDoAction(mc, notice, nullptr), noErr) << notice;
  EXPECT_EQ(GetMovieRate(movie), 0);
  EXPECT_EQ(MCDoAction(mc, 0, nullptr), badComponentSelector);
}

}  // namespace
