#pragma once
// NSAlert. Nobody is at the screen: a responder decides how the alert is
// answered, by a button or otherwise (NSModalResponseStop or
// NSModalResponseAbort for an alert dismissed without a choice). The default
// responder presses the first button; tests and the demo install their own.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/NSWindow.h"

namespace appkit {

inline constexpr NSModalResponse NSAlertFirstButtonReturn = 1000;
inline constexpr NSModalResponse NSAlertSecondButtonReturn = 1001;
inline constexpr NSModalResponse NSAlertThirdButtonReturn = 1002;

enum class NSAlertStyle { warning = 0, informational = 1, critical = 2 };

class NSAlert {
 public:
  // Gets the alert as it is shown (it may tick the suppression check box)
  // and returns the response: NSAlertFirstButtonReturn + the button's index,
  // or another response, which runModal returns as it is.
  using Responder = std::function<NSModalResponse(NSAlert&)>;
  static void setResponder(Responder responder);
  static void resetResponder();
  // Message texts of the alerts shown so far; for tests.
  static std::vector<std::string> shownMessages();
  static void clearShownMessages();

  const std::string& messageText() const { return messageText_; }
  void setMessageText(std::string t) { messageText_ = std::move(t); }
  const std::string& informativeText() const { return informativeText_; }
  void setInformativeText(std::string t) { informativeText_ = std::move(t); }
  NSAlertStyle alertStyle() const { return style_; }
  void setAlertStyle(NSAlertStyle s) { style_ = s; }
  // Returns the new button's index.
  std::size_t addButtonWithTitle(std::string title);
  const std::vector<std::string>& buttons() const { return buttons_; }
  bool showsSuppressionButton() const { return showsSuppressionButton_; }
  void setShowsSuppressionButton(bool s) { showsSuppressionButton_ = s; }
  bool suppressionButtonChecked() const { return suppressionChecked_; }
  void setSuppressionButtonChecked(bool c) { suppressionChecked_ = c; }

  // Shows the alert and returns the chosen response. An alert without
  // buttons gets an "OK" button first.
  NSModalResponse runModal();
  // The same as a sheet on `window`; the completion is posted on the main queue.
  void beginSheetModalForWindow(const std::shared_ptr<NSWindow>& window,
                                std::function<void(NSModalResponse)> completion);

 private:
  std::string messageText_;
  std::string informativeText_;
  NSAlertStyle style_ = NSAlertStyle::warning;
  std::vector<std::string> buttons_;
  bool showsSuppressionButton_ = false;
  bool suppressionChecked_ = false;
};

}  // namespace appkit
