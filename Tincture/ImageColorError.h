#pragma once

#include <cstddef>
#include <exception>
#include <functional>

namespace tincture {

// The failures of the image analyses, thrown by averageColor() and the
// dominant-colour operations.
class ImageColorError : public std::exception {
 public:
  enum Code {
    nsImageResizeFailure,  // part of the type; no operation raises it
    ciImageFailure,
    cgImageFailure,
    cgImageDataFailure,
    outputImageFailure,
  };

  explicit ImageColorError(Code code) noexcept : code_(code) {}

  Code code() const noexcept { return code_; }
  // The case's name, e.g. "ciImageFailure".
  const char* what() const noexcept override;

  bool operator==(const ImageColorError& other) const noexcept { return code_ == other.code_; }

 private:
  Code code_;
};

}  // namespace tincture

template <>
struct std::hash<tincture::ImageColorError> {
  std::size_t operator()(const tincture::ImageColorError& error) const noexcept {
    return std::hash<int>()(static_cast<int>(error.code()));
  }
};
