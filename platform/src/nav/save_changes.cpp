#include "nav/save_changes.h"

namespace vt::nav {

std::string saveChangesMessage(const std::string& documentName, NavAskSaveChangesAction action) {
  std::string name = documentName.empty() ? "untitled" : documentName;
  std::string text = "Do you want to save the changes you made in the document \xE2\x80\x9C" +
                     name + "\xE2\x80\x9D";
  if (action == kNavSaveChangesQuittingApplication) text += " before quitting";
  return text + "?";
}

SaveChangesDialog::SaveChangesDialog(std::string clientName, std::string documentName,
                                     NavAskSaveChangesAction action)
    : clientName_(std::move(clientName)), message_(saveChangesMessage(documentName, action)) {
  auto button = [](int left, int right, const char* label, bool isDefault) {
    return ui::Button::pushButton(label, isDefault,
                                  ui::makeRect(left, kHeight - 40, right, kHeight - 16));
  };
  buttons_ = {button(kWidth - 16 - 96, kWidth - 16, "Save", true),
              button(kWidth - 16 - 96 - 12 - 96, kWidth - 16 - 96 - 12, "Cancel", false),
              button(20, 20 + 110, "Don\xE2\x80\x99t Save", false)};
}

bool SaveChangesDialog::click(int x, int y) {
  if (done()) return false;
  switch (ui::hitButton(buttons_, x, y)) {
    case kSaveButton: answer_ = kNavAskSaveChangesSave; return true;
    case kCancelButton: answer_ = kNavAskSaveChangesCancel; return true;
    case kDontSaveButton: answer_ = kNavAskSaveChangesDontSave; return true;
    default: return false;
  }
}

bool SaveChangesDialog::key(char c, bool command) {
  if (done()) return false;
  if (c == ui::key::ret || c == ui::key::enter) {
    answer_ = kNavAskSaveChangesSave;
  } else if (c == ui::key::escape || (command && c == '.')) {
    answer_ = kNavAskSaveChangesCancel;
  } else if (command && (c == 'd' || c == 'D')) {
    answer_ = kNavAskSaveChangesDontSave;
  } else {
    return false;
  }
  return true;
}

void SaveChangesDialog::draw(ui::Painter& p) {
  using ui::makeRect;
  namespace colour = ui::colour;
  p.fill(makeRect(0, 0, kWidth, kHeight), colour::background);
  // A document badge on the left, then the question and the usual consequence.
  Rect badge = makeRect(20, 18, 60, 66);
  p.fill(badge, colour::white);
  p.frame(badge, colour::border);
  p.fill(makeRect(26, 28, 54, 31), colour::dim);
  p.fill(makeRect(26, 36, 54, 39), colour::dim);
  p.fill(makeRect(26, 44, 48, 47), colour::dim);
  int y = 30;
  for (const auto& line : ui::wrapText(p, message_, kWidth - 80 - 16, 13, true)) {
    p.text(76, y, line, 13, colour::black, true);
    y += 18;
  }
  p.text(76, y + 4, "Your changes will be lost if you don\xE2\x80\x99t save them.", 11,
         colour::black);
  for (const auto& b : buttons_) b.draw(p);
}

}  // namespace vt::nav
