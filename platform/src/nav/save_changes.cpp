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
  Button save{makeRect(kWidth - 16 - 96, kHeight - 40, kWidth - 16, kHeight - 16), "Save", true,
              true};
  Button cancel{makeRect(kWidth - 16 - 96 - 12 - 96, kHeight - 40, kWidth - 16 - 96 - 12,
                         kHeight - 16),
                "Cancel", true, false};
  Button dontSave{makeRect(20, kHeight - 40, 20 + 110, kHeight - 16), "Don\xE2\x80\x99t Save", true,
                  false};
  buttons_ = {save, cancel, dontSave};
}

bool SaveChangesDialog::click(int x, int y) {
  if (done()) return false;
  switch (hitButton(buttons_, x, y)) {
    case kSaveButton: answer_ = kNavAskSaveChangesSave; return true;
    case kCancelButton: answer_ = kNavAskSaveChangesCancel; return true;
    case kDontSaveButton: answer_ = kNavAskSaveChangesDontSave; return true;
    default: return false;
  }
}

bool SaveChangesDialog::key(char c, bool command) {
  if (done()) return false;
  if (c == key::ret || c == key::enter) {
    answer_ = kNavAskSaveChangesSave;
  } else if (c == key::escape || (command && c == '.')) {
    answer_ = kNavAskSaveChangesCancel;
  } else if (command && (c == 'd' || c == 'D')) {
    answer_ = kNavAskSaveChangesDontSave;
  } else {
    return false;
  }
  return true;
}

void SaveChangesDialog::draw(Painter& p) {
  p.fill(makeRect(0, 0, kWidth, kHeight), colour::background);
  // A document badge on the left, then the question and the usual consequence.
  Rect badge = makeRect(20, 18, 60, 66);
  p.fill(badge, colour::white);
  p.frame(badge, colour::border);
  p.fill(makeRect(26, 28, 54, 31), colour::dim);
  p.fill(makeRect(26, 36, 54, 39), colour::dim);
  p.fill(makeRect(26, 44, 48, 47), colour::dim);
  int y = 30;
  for (const auto& line : wrapText(p, message_, kWidth - 80 - 16, 13, true)) {
    p.text(76, y, line, 13, colour::black, true);
    y += 18;
  }
  p.text(76, y + 4, "Your changes will be lost if you don\xE2\x80\x99t save them.", 11,
         colour::black);
  for (const auto& b : buttons_) drawButton(p, b);
}

}  // namespace vt::nav
