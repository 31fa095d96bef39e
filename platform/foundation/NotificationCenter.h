#pragma once
// NSNotificationCenter stand-in: synchronous delivery on the posting thread,
// to the matching observers in registration order.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/ObserverToken.h"
#include "platform/foundation/Value.h"

namespace ns {

struct Notification {
    std::string name;
    // Identity of the sender, compared by address; nullptr for none.
    const void* object = nullptr;
    // Keeps the sender alive while the notification travels, when it is an Object.
    std::shared_ptr<Object> objectRef;
    Dictionary userInfo;

    Notification() = default;
    Notification(std::string name, const void* object = nullptr, Dictionary userInfo = {})
        : name(std::move(name)), object(object), userInfo(std::move(userInfo)) {}
    Notification(std::string name, std::shared_ptr<Object> sender, Dictionary userInfo = {})
        : name(std::move(name)), object(sender.get()), objectRef(std::move(sender)), userInfo(std::move(userInfo)) {}
};

class NotificationCenter : public std::enable_shared_from_this<NotificationCenter> {
public:
    using Block = std::function<void(const Notification&)>;

    // The process-wide centre.
    static std::shared_ptr<NotificationCenter> defaultCenter();
    // A separate centre (for example a workspace's own).
    static std::shared_ptr<NotificationCenter> create();

    // name nullopt observes every name; object nullptr observes every sender.
    // Observers added while a notification is being delivered do not get that
    // notification; observers removed during delivery are not called after
    // their removal. The block may remove itself or others.
    ObserverToken addObserver(std::optional<std::string> name, const void* object, Block block);
    ObserverToken addObserver(std::optional<std::string> name, const std::shared_ptr<Object>& object, Block block) {
        return addObserver(std::move(name), static_cast<const void*>(object.get()), std::move(block));
    }

    void post(const Notification& notification);
    void post(std::string name, const void* object = nullptr, Dictionary userInfo = {}) {
        post(Notification(std::move(name), object, std::move(userInfo)));
    }

    size_t observerCount() const;
    // Drops every observer (their tokens become no-ops).
    void removeAllObservers();

private:
    NotificationCenter() = default;
    using Registration = detail::Registration<Block>;
    struct Entry {
        std::optional<std::string> name;
        const void* object;
        std::shared_ptr<Registration> registration;
    };
    void remove(const std::shared_ptr<Registration>& registration);

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

}  // namespace ns
