#include "platform/ui/Animation.h"

#include <cmath>
#include <mutex>

#include "platform/dispatch/Dispatch.h"

namespace ui {
namespace {

thread_local const Transaction* tlsTransaction = nullptr;

std::mutex& recordMutex() {
  static std::mutex m;
  return m;
}
std::vector<Animation>& records() {
  static std::vector<Animation> r;
  return r;
}

// Time for a damped spring to settle within 0.1% of its travel.
double springSettlingTime(double mass, double stiffness, double damping) {
  if (mass <= 0 || stiffness <= 0) return 0;
  double omega = std::sqrt(stiffness / mass);
  double zeta = damping / (2 * std::sqrt(stiffness * mass));
  double rate = zeta < 1 ? zeta * omega : omega * (zeta - std::sqrt(zeta * zeta - 1));
  if (rate <= 0) return 0;
  return -std::log(0.001) / rate;
}

}  // namespace

Animation Animation::spring(double response, double dampingFraction) {
  // A spring of the given response (period) and damping fraction, unit mass.
  double stiffness = std::pow(2 * M_PI / std::max(response, 0.01), 2);
  double damping = 4 * M_PI * dampingFraction / std::max(response, 0.01);
  Animation a{Curve::spring, 0, 1, stiffness, damping, 0};
  a.duration = springSettlingTime(1, stiffness, damping);
  return a;
}

Animation Animation::interpolatingSpring(double mass, double stiffness, double damping, double initialVelocity) {
  Animation a{Curve::interpolatingSpring, 0, mass, stiffness, damping, initialVelocity};
  a.duration = springSettlingTime(mass, stiffness, damping);
  return a;
}

const Transaction* Transaction::current() { return tlsTransaction; }

void withAnimation(std::optional<Animation> animation, const std::function<void()>& changes,
                   std::function<void()> completion) {
  Transaction t;
  t.animation = animation;
  if (animation) {
    std::lock_guard lock(recordMutex());
    records().push_back(*animation);
  }
  const Transaction* previous = tlsTransaction;
  tlsTransaction = &t;
  try {
    changes();
  } catch (...) {
    tlsTransaction = previous;
    throw;
  }
  tlsTransaction = previous;
  if (completion) {
    dispatch::Queue::main()->asyncAfterDelay(animation ? animation->duration : 0.0, std::move(completion));
  }
}

std::vector<Animation> recordedAnimations() {
  std::lock_guard lock(recordMutex());
  return records();
}

void clearRecordedAnimations() {
  std::lock_guard lock(recordMutex());
  records().clear();
}

}  // namespace ui
