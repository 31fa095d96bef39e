#pragma once
// Marks a log kind that keeps the session id it is given: the session
// tracker does not stamp the current session on it.

class DVACNoAutoAssignSessionIdLog {
 public:
  virtual ~DVACNoAutoAssignSessionIdLog() = default;
};
