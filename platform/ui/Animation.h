#pragma once
// Animations are recorded, not played: a change made inside withAnimation()
// is applied at once, the animation is recorded as the transaction of the
// render it causes, and the completion (if any) is posted on the main queue
// after the animation's duration.

#include <functional>
#include <optional>
#include <vector>

namespace ui {

struct Animation {
  enum class Curve { linear, easeIn, easeOut, easeInOut, spring, interpolatingSpring };
  Curve curve = Curve::easeInOut;
  double duration = 0.35;
  // Interpolating spring parameters (unused for the timing curves).
  double mass = 1;
  double stiffness = 0;
  double damping = 0;
  double initialVelocity = 0;

  bool operator==(const Animation&) const = default;

  // SwiftUI's `.default`.
  static Animation standard() { return {}; }
  static Animation linear(double d = 0.35) { return {Curve::linear, d}; }
  static Animation easeIn(double d = 0.35) { return {Curve::easeIn, d}; }
  static Animation easeOut(double d = 0.35) { return {Curve::easeOut, d}; }
  static Animation easeInOut(double d = 0.35) { return {Curve::easeInOut, d}; }
  static Animation spring(double response = 0.55, double dampingFraction = 0.825);
  static Animation interpolatingSpring(double mass, double stiffness, double damping, double initialVelocity = 0);
};

struct Transaction {
  std::optional<Animation> animation;
  bool disablesAnimations = false;

  // The transaction of the withAnimation() call running on this thread, if any.
  static const Transaction* current();
};

// Runs `changes` with a transaction carrying `animation` (none: no
// animation). `completion` is posted on the main queue after the animation's
// duration (at once, still posted, for none).
void withAnimation(std::optional<Animation> animation, const std::function<void()>& changes,
                   std::function<void()> completion = {});
inline void withAnimation(const std::function<void()>& changes) { withAnimation(Animation::standard(), changes); }

// Every animation passed to withAnimation(), in order; for tests.
std::vector<Animation> recordedAnimations();
void clearRecordedAnimations();

}  // namespace ui
