// The save-changes question: Save / Don't Save / Cancel about one document.
#pragma once
#include <Navigation.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/widgets/controls.h"

namespace vt::nav {

// "Do you want to save the changes you made in the document “NAME”?", with " before quitting"
// when the application is quitting. An empty name reads "untitled".
std::string saveChangesMessage(const std::string& documentName, NavAskSaveChangesAction action);

class SaveChangesDialog {
 public:
  static constexpr int kWidth = 460;
  static constexpr int kHeight = 150;

  SaveChangesDialog(std::string clientName, std::string documentName,
                    NavAskSaveChangesAction action);

  bool click(int x, int y);
  bool key(char c, bool command);
  void draw(ui::Painter& p);

  bool done() const { return answer_ != 0; }
  NavAskSaveChangesResult answer() const { return answer_; }
  void answerWith(NavAskSaveChangesResult a) { answer_ = a; }

  const std::string& message() const { return message_; }
  const std::string& clientName() const { return clientName_; }
  std::vector<ui::Button>& buttons() { return buttons_; }
  const std::vector<ui::Button>& buttons() const { return buttons_; }
  enum { kSaveButton = 0, kCancelButton = 1, kDontSaveButton = 2 };

 private:
  std::string clientName_;
  std::string message_;
  std::vector<ui::Button> buttons_;
  NavAskSaveChangesResult answer_ = 0;
};

}  // namespace vt::nav
