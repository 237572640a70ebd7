// The widget kit: the text field's editing, selection and limits, press tracking, the focus
// chain and wrapping.
#include <VTAutomation.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events/event_queue.h"
#include "fake_painter.h"
#include "ui/widgets/controls.h"
#include "ui/widgets/text_field.h"
#include "ui/widgets/tracking.h"
#include "ui_fixture.h"

using vt::ui::KeyPress;
using vt::ui::TextField;
namespace key = vt::ui::key;

namespace {

TextField field(const std::string& text) {
  TextField f;
  f.setMeasure(vt_test::fixedWidth);
  f.setText(text);
  return f;
}

// A step of typing: a key (code plus modifiers) or, when text is set, typed text.
struct Step {
  char code = 0;
  bool command = false;
  bool shift = false;
  std::string text;
};
Step K(char c, bool command = false, bool shift = false) { return Step{c, command, shift, {}}; }
Step T(const std::string& s) { return Step{0, false, false, s}; }

void run(TextField& f, const std::vector<Step>& steps) {
  for (const Step& s : steps) {
    if (!s.text.empty())
      f.insert(s.text);
    else
      f.key(KeyPress::of(s.code, s.command, s.shift));
  }
}

}  // namespace

TEST(TextField, KeysEditAtTheCaretByWholeCharacters) {
  struct Case {
    const char* name;
    std::string start;
    std::vector<Step> steps;
    std::string text;
    std::string selected;
  } cases[] = {
      // Replacing a proposed name: select it all and type over it.
      {"select all, type", "b edit n .mov", {K('a', true), T("copy.mov")}, "copy.mov", ""},
      {"caret in the middle", "b edit n .mov", {K(key::home), K(key::right), K(key::right), T("X")},
       "b Xedit n .mov", ""},
      {"left over CJK", "ab\xE6\x97\xA5\xE6\x9C\xAC", {K(key::left), K(key::backspace)},
       "ab\xE6\x9C\xAC", ""},
      {"shift+left selects code points", "x\xC3\xBC\xE6\x97\xA5",
       {K(key::left, false, true), K(key::left, false, true)}, "x\xC3\xBC\xE6\x97\xA5",
       "\xC3\xBC\xE6\x97\xA5"},
      {"typing replaces the selection", "name.mov", {K(key::left, false, true), T("\xE2\x82\xAC")},
       "name.mo\xE2\x82\xAC", ""},
      {"left collapses a selection", "abcd", {K('a', true), K(key::left), T("_")}, "_abcd", ""},
      {"shift+home", "abcd", {K(key::left), K(key::home, false, true)}, "abcd", "abc"},
      {"forward delete", "abcd", {K(key::home), K(key::del), K(key::end), K(key::del)}, "bcd", ""},
      {"backspace at the start", "ab", {K(key::home), K(key::backspace)}, "ab", ""},
      {"word left and right", "b edit n .mov",
       {K(key::left, true), K(key::left, true), K(key::left, true), K(key::right, true, true)},
       "b edit n .mov", "n"},
      {"return and tab are not text", "ab", {K(key::ret), K(key::tab), K(key::escape)}, "ab", ""},
  };
  for (const Case& c : cases) {
    TextField f = field(c.start);
    run(f, c.steps);
    EXPECT_EQ(f.text(), c.text) << c.name;
    EXPECT_EQ(f.selectedText(), c.selected) << c.name;
  }
}

TEST(TextField, LimitsCountBytesOrCharactersAndNeverSplitOne) {
  TextField bytes = field("");
  bytes.setMaxBytes(6);
  bytes.setText("ab\xE6\x97\xA5\xE6\x9C\xAC");  // 8 bytes: the second CJK character goes
  EXPECT_EQ(bytes.text(), "ab\xE6\x97\xA5");
  EXPECT_EQ(bytes.key(KeyPress::typing(U'\u00FC')), TextField::Result::refused);  // 2 more
  EXPECT_EQ(bytes.key(KeyPress::typing('c')), TextField::Result::handled);
  EXPECT_EQ(bytes.text(), "ab\xE6\x97\xA5" "c");
  // Over a selection the selection's room counts; pasted text is cut at a character.
  bytes.selectAll();
  EXPECT_EQ(bytes.insert("xy\xC3\xBC\xC3\xBCz"), TextField::Result::refused);
  EXPECT_EQ(bytes.text(), "xy\xC3\xBC\xC3\xBC");
  EXPECT_EQ(bytes.insert("z"), TextField::Result::refused);
  EXPECT_EQ(bytes.text().size(), 6u);

  TextField chars = field("");
  chars.setMaxChars(3);
  chars.insert("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE8\xAA\x9E");
  EXPECT_EQ(chars.text(), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
}

TEST(TextField, FilterControlCharactersAndMalformedText) {
  TextField f = field("old.mov");
  f.setFilter([](char32_t c) { return c != '/'; });
  f.selectAll();
  // A refused character changes nothing, not even the selection.
  EXPECT_EQ(f.key(KeyPress::typing('/')), TextField::Result::refused);
  EXPECT_EQ(f.selectedText(), "old.mov");
  // Pasted lines become one; what the filter refuses and malformed bytes are left out.
  EXPECT_EQ(f.insert("a/b\nc\x01\xFF" "d"), TextField::Result::refused);
  EXPECT_EQ(f.text(), "ab cd");
  f.setText("x\xC3(y");
  EXPECT_EQ(f.text(), "x(y");
}

TEST(TextField, ClipboardCutCopyAndPaste) {
  VTAutomationUseHeadless(320, 240);
  VTAutomationSetClipboardText("");
  TextField f = field("one two");
  f.key(KeyPress::of(key::left, true, true));  // "two"
  f.key(KeyPress::of('c', true));
  EXPECT_EQ(VTAutomationClipboardText(), "two");
  f.key(KeyPress::of('X', true));  // either case
  EXPECT_EQ(f.text(), "one ");
  f.key(KeyPress::of(key::home));
  f.key(KeyPress::of('v', true));
  EXPECT_EQ(f.text(), "twoone ");
  // Without a selection, copy leaves the clipboard alone; a plain 'v' is typed.
  VTAutomationSetClipboardText("\xE6\x97\xA5");
  f.key(KeyPress::of('c', true));
  f.key(KeyPress::of('v'));
  f.key(KeyPress::of('V', true));
  EXPECT_EQ(f.text(), "twov\xE6\x97\xA5one ");
  VTAutomationReset();
}

TEST(TextField, MousePlacesTheCaretDragsSelectAndMultiClicksTakeWordsOrAll) {
  TextField f = field("b edit n .mov");
  auto x = [&](size_t offset) { return f.xOf(offset); };
  struct Case {
    const char* name;
    std::vector<std::pair<int, uint32_t>> presses;  // x, ticks
    int dragTo;                                     // -1: no drag
    bool shiftPress;                                // one more press with Shift at dragTo
    std::string selected;
    size_t caret;
  } cases[] = {
      {"click between characters", {{x(4) + 2, 0}}, -1, false, "", 4},
      {"click past the end", {{x(13) + 40, 0}}, -1, false, "", 13},
      {"drag selects", {{x(2), 0}}, x(6) - 1, false, "edit", 6},
      {"drag backwards", {{x(6), 0}}, x(2) + 2, false, "edit", 2},
      {"shift click extends", {{x(2), 0}}, -1, true, "", 2},
      {"double click takes the word", {{x(3), 100}, {x(3), 110}}, -1, false, "edit", 6},
      {"a slow second click does not", {{x(3), 100}, {x(3), 200}}, -1, false, "", 3},
      {"word drag grows by words", {{x(3), 100}, {x(3), 110}}, x(8) - 1, false, "edit n", 8},
      {"triple click takes all", {{x(3), 100}, {x(3), 110}, {x(3), 120}}, -1, false,
       "b edit n .mov", 13},
  };
  for (const Case& c : cases) {
    TextField t = field(f.text());
    for (auto [px, ticks] : c.presses) t.press(px, ticks, false);
    if (c.dragTo >= 0) t.dragTo(c.dragTo);
    if (c.shiftPress) t.press(x(8), 500, true);
    std::string expect = c.shiftPress ? "edit n" : c.selected;
    EXPECT_EQ(t.selectedText(), expect) << c.name;
    EXPECT_EQ(t.caret(), c.shiftPress ? 8u : c.caret) << c.name;
  }
}

TEST(TextField, ScrollsToKeepTheCaretInTheBox) {
  vt_test::RecordingPainter p;
  Rect box{0, 0, 22, 60};
  TextField f = field(std::string(40, 'w'));
  f.draw(p, box, true);
  EXPECT_GT(f.xOf(f.caret()), TextField::kPadding);
  EXPECT_LE(f.xOf(f.caret()), box.right - TextField::kPadding);
  EXPECT_LT(f.xOf(0), 0);  // the start is scrolled away
  f.key(KeyPress::of(key::home));
  f.draw(p, box, true);
  EXPECT_EQ(f.xOf(0), TextField::kPadding);
  // A click maps through the scrolling.
  f.press(f.xOf(5), 0, false);
  EXPECT_EQ(f.caret(), 5u);
}

class Tracking : public HeadlessScreen {};

TEST_F(Tracking, APressActsOnlyWhenReleasedOverTheControl) {
  struct Case {
    const char* name;
    std::vector<Point> moves;  // global, after the press at the centre
    Point release;
    bool acts;
    std::vector<bool> shown;
  };
  WindowRef w = makeWindow(100, 100, 300, 200);
  ASSERT_NE(w, nullptr);
  Rect r{10, 10, 30, 60};  // local
  Point in = pt(100 + 30, 100 + 20), out = pt(100 + 120, 100 + 80);
  Case cases[] = {
      {"click", {}, in, true, {true, false}},
      {"out and back", {out, in}, in, true, {true, false, true, false}},
      {"released outside", {out}, out, false, {true, false}},
      {"released outside at once", {}, out, false, {true, false}},
  };
  for (const Case& c : cases) {
    for (Point m : c.moves) vt::events::post(vt::events::kMouseMovedKind, 0, m, 0);
    VTAutomationPostMouseUp(c.release);
    std::vector<bool> shown;
    bool acted = vt::ui::trackPress(w, r, [&](bool on) { shown.push_back(on); });
    EXPECT_EQ(acted, c.acts) << c.name;
    EXPECT_EQ(shown, c.shown) << c.name;
  }
  // The window going away ends the tracking without acting.
  VTAutomationSetModalHook([&] { DisposeWindow(w); });
  EXPECT_FALSE(vt::ui::trackPress(w, r));
  VTAutomationSetModalHook(nullptr);
}

TEST(FocusChain, TabAndShiftTabWrapAndKeepAFocusThatStays) {
  vt::ui::FocusChain chain;
  EXPECT_EQ(chain.advance(false), -1);
  chain.setOrder({3, 4, 7});
  EXPECT_EQ(chain.focused(), 3);
  EXPECT_EQ(chain.advance(false), 4);
  EXPECT_EQ(chain.advance(false), 7);
  EXPECT_EQ(chain.advance(false), 3);
  EXPECT_EQ(chain.advance(true), 7);
  EXPECT_FALSE(chain.focus(5));
  chain.setOrder({7, 9});  // 7 is still there
  EXPECT_EQ(chain.focused(), 7);
  chain.setOrder({1});
  EXPECT_EQ(chain.focused(), 1);
}
