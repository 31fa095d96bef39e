#pragma once
// Downloaded artwork by address, bounded in bytes: the least recently used
// images go first when a new one would exceed the budget. Main actor only.

#include <cstddef>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/image/Image.h"

class ArtworkCache {
 public:
  explicit ArtworkCache(std::size_t byteLimit) : byteLimit_(byteLimit) {}

  // The image of the address, now the most recently used.
  std::optional<img::Image> find(const std::string& address);
  // Replaces an image of the same address; an image larger than the whole
  // budget is not kept.
  void insert(const std::string& address, img::Image image);

  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  bool contains(const std::string& address) const { return index_.contains(address); }
  // The pixel bytes of the images held.
  std::size_t bytes() const { return bytes_; }
  std::size_t byteLimit() const { return byteLimit_; }

  static std::size_t bytesOf(const img::Image& image);

 private:
  struct Entry {
    std::string address;
    img::Image image;
    std::size_t bytes;
  };
  void erase(std::list<Entry>::iterator entry);

  std::size_t byteLimit_;
  std::size_t bytes_ = 0;
  std::list<Entry> entries_;  // most recently used first
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};
