#pragma once
// NSAnimationContext: animation groups whose changes apply at once. A
// group's completion handler is posted on the main queue after the group's
// duration (even a zero duration posts it).

#include <functional>

namespace appkit {

class NSAnimationContext {
 public:
  static constexpr double kDefaultDuration = 0.25;

  // runAnimationGroup:completionHandler:
  static void runAnimationGroup(const std::function<void(NSAnimationContext&)>& changes,
                                std::function<void()> completionHandler = {});
  static void beginGrouping();
  static void endGrouping();
  // The innermost open group, or the implicit one outside any group.
  static NSAnimationContext& currentContext();

  double duration() const { return duration_; }
  void setDuration(double seconds) { duration_ = seconds < 0 ? 0 : seconds; }
  bool allowsImplicitAnimation() const { return allowsImplicitAnimation_; }
  void setAllowsImplicitAnimation(bool allows) { allowsImplicitAnimation_ = allows; }
  void setCompletionHandler(std::function<void()> handler) { completionHandler_ = std::move(handler); }

  // Number of groups ended so far; for tests.
  static unsigned long groupsEnded();

 private:
  double duration_ = kDefaultDuration;
  bool allowsImplicitAnimation_ = false;
  std::function<void()> completionHandler_;
};

}  // namespace appkit
