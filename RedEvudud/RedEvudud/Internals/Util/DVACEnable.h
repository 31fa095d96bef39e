#pragma once
// Something that can be switched on and off, optionally dropping what it
// holds when switched off (channels, ingestions, the HTTP client).

class DVACEnable {
 public:
  virtual ~DVACEnable() = default;
  virtual void setEnabled(bool isEnabled, bool deleteDataOnDisabled) = 0;
  virtual bool isEnabled() const = 0;
};
