#include "app/nowplaying/ArtworkCache.h"

std::size_t ArtworkCache::bytesOf(const img::Image& image) {
  std::size_t bytes = 0;
  for (const auto& bitmap : image.representations()) bytes += bitmap->bytes().size();
  return bytes;
}

std::optional<img::Image> ArtworkCache::find(const std::string& address) {
  auto it = index_.find(address);
  if (it == index_.end()) return std::nullopt;
  entries_.splice(entries_.begin(), entries_, it->second);
  return it->second->image;
}

void ArtworkCache::insert(const std::string& address, img::Image image) {
  if (auto it = index_.find(address); it != index_.end()) erase(it->second);
  const std::size_t size = bytesOf(image);
  if (size > byteLimit_) return;
  while (bytes_ + size > byteLimit_ && !entries_.empty()) erase(std::prev(entries_.end()));
  entries_.push_front(Entry{address, std::move(image), size});
  index_[address] = entries_.begin();
  bytes_ += size;
}

void ArtworkCache::erase(std::list<Entry>::iterator entry) {
  bytes_ -= entry->bytes;
  index_.erase(entry->address);
  entries_.erase(entry);
}
