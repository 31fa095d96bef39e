#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

namespace ns {

std::shared_ptr<NotificationCenter> NotificationCenter::defaultCenter() {
    static const std::shared_ptr<NotificationCenter> center = create();
    return center;
}

std::shared_ptr<NotificationCenter> NotificationCenter::create() {
    return std::shared_ptr<NotificationCenter>(new NotificationCenter());
}

ObserverToken NotificationCenter::addObserver(std::optional<std::string> name, const void* object, Block block) {
    auto registration = std::make_shared<Registration>(std::move(block));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(Entry{std::move(name), object, registration});
    }
    std::weak_ptr<NotificationCenter> weak = weak_from_this();
    return ObserverToken([weak, registration] {
        if (auto self = weak.lock()) self->remove(registration);
        registration->deactivate();
    });
}

void NotificationCenter::remove(const std::shared_ptr<Registration>& registration) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.registration == registration; }),
                   entries_.end());
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Registration>> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& e : entries_) {
            if (e.name && *e.name != notification.name) continue;
            if (e.object && e.object != notification.object) continue;
            targets.push_back(e.registration);
        }
    }
    for (const auto& r : targets) r->invoke(notification);
}

size_t NotificationCenter::observerCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

void NotificationCenter::removeAllObservers() {
    std::vector<Entry> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropped.swap(entries_);
    }
}

}  // namespace ns
