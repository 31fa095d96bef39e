#pragma once
// The time simulated applications take to answer. A call into a slow or
// unresponsive application charges its cost to the calling thread instead of
// blocking it; the queue that runs the caller's job (the Accessibility queue)
// takes the total when the job ends and holds back everything behind the job
// for that long. Nothing ever sleeps, so the same accounting works under the
// virtual clock and the real one.

namespace sim {

class CostMeter {
 public:
  // Adds seconds to the calling thread's account.
  static void charge(double seconds);
  // The calling thread's account.
  static double total();
  // Returns the account and empties it.
  static double take();
};

}  // namespace sim
