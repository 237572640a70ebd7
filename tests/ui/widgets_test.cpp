// The widget kit: the text field's editing, selection, limits and scrolling; press tracking.
#include <gtest/gtest.h>

#include "events/event_queue.h"
#include "fake_painter.h"
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
Step Shift(char c) { return K(c, false, true); }
Step T(const std::string& s) { return Step{0, false, false, s}; }

void run(TextField& f, const std::vector<Step>& steps) {
  for (const Step& s : steps) {
    if (!s.text.empty())
      f.insert(s.text);
    else
      f.key(KeyPress::of(s.code, s.command, s.shift));
  }
}

// A headless screen gives the process a clipboard of its own.
using TextFieldKeys = HeadlessScreen;

}  // namespace

TEST_F(TextFieldKeys, EditAtTheCaretByWholeCharactersCutCopyPasteAndTrackPresses) {
  struct Case {
    const char* name;
    std::string start;
    std::vector<Step> steps;
    std::string text;
    std::string selected;
  } cases[] = {
      {"select all, type", "b edit n .mov", {K('a', true), T("copy.mov")}, "copy.mov", ""},
      {"caret inside", "ab.mov", {K(key::home), K(key::right), T("X")}, "aXb.mov", ""},
      {"left over CJK", "ab日本", {K(key::left), K(key::backspace)}, "ab本", ""},
      {"shift+left by code points", "xü日", {Shift(key::left), Shift(key::left)}, "xü日", "ü日"},
      {"typing replaces the selection", "name.mov", {Shift(key::left), T("€")}, "name.mo€", ""},
      {"left collapses a selection", "abcd", {K('a', true), K(key::left), T("_")}, "_abcd", ""},
      {"shift+home", "abcd", {K(key::left), Shift(key::home)}, "abcd", "abc"},
      {"forward delete", "abcd", {K(key::home), K(key::del), K(key::end), K(key::del)}, "bcd", ""},
      {"backspace at the start", "ab", {K(key::home), K(key::backspace)}, "ab", ""},
      {"word left and right",
       "b edit n .mov",
       {K(key::left, true), K(key::left, true), K(key::left, true), K(key::right, true, true)},
       "b edit n .mov",
       "n"},
      {"return and tab are not text", "ab", {K(key::ret), K(key::tab), K(key::escape)}, "ab", ""},
      {"cut, paste back",
       "b ünï 日本.mov",
       {K('a', true), K('x', true), K(key::right), K('v', true)},
       "b ünï 日本.mov",
       ""},
      {"copy, paste after",
       "ab",
       {K('a', true), K('c', true), K(key::right), K('v', true)},
       "abab",
       ""},
  };
  for (const Case& c : cases) {
    TextField f = field(c.start);
    run(f, c.steps);
    EXPECT_EQ(f.text(), c.text) << c.name;
    EXPECT_EQ(f.selectedText(), c.selected) << c.name;
  }

  // A press acts only when released over the control, and shows while over it.
  WindowRef w = makeWindow(100, 100, 300, 200);
  ASSERT_NE(w, nullptr);
  Rect r{10, 10, 30, 60};  // local
  Point in = pt(130, 120), out = pt(220, 180);
  struct Track {
    std::vector<Point> moves;  // after the press, before the release
    Point release;
    bool acts;
    std::vector<bool> shown;
  } tracks[] = {
      {{}, in, true, {true, false}},
      {{out, in}, in, true, {true, false, true, false}},
      {{}, out, false, {true, false}},
  };
  for (const Track& k : tracks) {
    for (Point m : k.moves) vt::events::post(vt::events::kMouseMovedKind, 0, m, 0);
    VTAutomationPostMouseUp(k.release);
    std::vector<bool> shown;
    EXPECT_EQ(vt::ui::trackPress(w, r, [&](bool on) { shown.push_back(on); }), k.acts);
    EXPECT_EQ(shown, k.shown);
  }
  // The window going away ends the tracking without acting.
  VTAutomationSetModalHook([&] { DisposeWindow(w); });
  EXPECT_FALSE(vt::ui::trackPress(w, r));
  VTAutomationSetModalHook(nullptr);
}

TEST(TextField, LimitsFiltersMouseAndScrolling) {
  TextField bytes = field("");
  bytes.setMaxBytes(6);
  bytes.setText("ab日本");  // 8 bytes: the second CJK character goes
  EXPECT_EQ(bytes.text(), "ab日");
  EXPECT_EQ(bytes.key(KeyPress::typing(U'\u00FC')), TextField::Result::refused);  // 2 more
  EXPECT_EQ(bytes.key(KeyPress::typing('c')), TextField::Result::handled);
  EXPECT_EQ(bytes.text(), "ab日c");
  // Over a selection the selection's room counts; pasted text is cut at a character.
  bytes.selectAll();
  EXPECT_EQ(bytes.insert("xyüüz"), TextField::Result::refused);
  EXPECT_EQ(bytes.text(), "xyüü");
  EXPECT_EQ(bytes.insert("z"), TextField::Result::refused);
  EXPECT_EQ(bytes.text().size(), 6u);

  TextField chars = field("");
  chars.setMaxChars(3);
  chars.insert("日本語語");
  EXPECT_EQ(chars.text(), "日本語");

  TextField f = field("old.mov");
  f.setFilter([](char32_t c) { return c != '/'; });
  f.selectAll();
  // A refused character changes nothing, not even the selection.
  EXPECT_EQ(f.key(KeyPress::typing('/')), TextField::Result::refused);
  EXPECT_EQ(f.selectedText(), "old.mov");
  // Pasted lines become one; what the filter refuses and malformed bytes are left out.
  EXPECT_EQ(f.insert(std::string("a/b\nc\x01\xFF") + "d"), TextField::Result::refused);
  EXPECT_EQ(f.text(), "ab cd");
  f.setText("x\xC3(y");
  EXPECT_EQ(f.text(), "x(y");

  // The mouse places the caret, drags select, double and triple clicks take a word or all.
  const TextField probe = field("b edit n .mov");
  auto x = [&](size_t offset) { return probe.xOf(offset); };
  struct Press {
    int x;
    uint32_t ticks;
    bool shift;
  };
  struct Case {
    const char* name;
    std::vector<Press> presses;
    int dragTo;  // -1: no drag
    std::string selected;
    size_t caret;
  } cases[] = {
      {"click between characters", {{x(4) + 2, 0, false}}, -1, "", 4},
      {"click past the end", {{x(13) + 40, 0, false}}, -1, "", 13},
      {"drag selects", {{x(2), 0, false}}, x(6) - 1, "edit", 6},
      {"drag backwards", {{x(6), 0, false}}, x(2) + 2, "edit", 2},
      {"shift click extends", {{x(2), 0, false}, {x(8), 500, true}}, -1, "edit n", 8},
      {"double click takes the word", {{x(3), 100, false}, {x(3), 110, false}}, -1, "edit", 6},
      {"a slow second click does not", {{x(3), 100, false}, {x(3), 200, false}}, -1, "", 3},
      {"word drag grows by words", {{x(3), 100, false}, {x(3), 110, false}}, x(8) - 1, "edit n", 8},
      {"triple click takes all",
       {{x(3), 100, false}, {x(3), 110, false}, {x(3), 120, false}},
       -1,
       "b edit n .mov",
       13},
  };
  for (const Case& c : cases) {
    TextField t = field(probe.text());
    for (const Press& p : c.presses) t.press(p.x, p.ticks, p.shift);
    if (c.dragTo >= 0) t.dragTo(c.dragTo);
    EXPECT_EQ(t.selectedText(), c.selected) << c.name;
    EXPECT_EQ(t.caret(), c.caret) << c.name;
  }

  // Scrolling keeps the caret in the box; a click maps through it.
  vt_test::RecordingPainter p;
  Rect box{0, 0, 22, 60};
  f = field(std::string(40, 'w'));
  f.draw(p, box, true);
  EXPECT_GT(f.xOf(f.caret()), TextField::kPadding);
  EXPECT_LE(f.xOf(f.caret()), box.right - TextField::kPadding);
  EXPECT_LT(f.xOf(0), 0);  // the start is scrolled away
  f.key(KeyPress::of(key::home));
  f.draw(p, box, true);
  EXPECT_EQ(f.xOf(0), TextField::kPadding);
  f.press(f.xOf(5), 0, false);
  EXPECT_EQ(f.caret(), 5u);
}
