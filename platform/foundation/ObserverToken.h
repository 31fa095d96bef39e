#pragma once
// RAII handle of an observer registration (user defaults key observers,
// notification observers). Destroying or reset()ting it removes the observer.

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace ns {

class ObserverToken {
public:
    ObserverToken() = default;
    explicit ObserverToken(std::function<void()> remover) : remover_(std::move(remover)) {}
    ~ObserverToken() { reset(); }

    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ObserverToken(ObserverToken&& other) noexcept : remover_(std::exchange(other.remover_, nullptr)) {}
    ObserverToken& operator=(ObserverToken&& other) noexcept {
        if (this != &other) {
            reset();
            remover_ = std::exchange(other.remover_, nullptr);
        }
        return *this;
    }

    // Removes the observer now. Once this returns the callback is not running on
    // any other thread and will not be called again; calling it from inside the
    // callback itself is allowed.
    void reset() {
        if (auto r = std::exchange(remover_, nullptr)) r();
    }
    bool isActive() const { return static_cast<bool>(remover_); }

private:
    std::function<void()> remover_;
};

namespace detail {

// One registered callback that may be invoked concurrently from several
// threads and removed from any thread, including from inside itself.
template <typename Fn>
class Registration {
public:
    explicit Registration(Fn fn) : fn_(std::move(fn)) {}

    template <typename... Args>
    bool invoke(Args&&... args) {
        const auto self = std::this_thread::get_id();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!active_) return false;
            running_.push_back(self);
        }
        struct Done {
            Registration* r;
            std::thread::id id;
            ~Done() {
                std::lock_guard<std::mutex> lock(r->mutex_);
                auto it = std::find(r->running_.begin(), r->running_.end(), id);
                if (it != r->running_.end()) r->running_.erase(it);
                r->idle_.notify_all();
            }
        } done{this, self};
        fn_(std::forward<Args>(args)...);
        return true;
    }

    // Stops further calls and waits for calls running on other threads.
    void deactivate() {
        const auto self = std::this_thread::get_id();
        std::unique_lock<std::mutex> lock(mutex_);
        active_ = false;
        idle_.wait(lock, [&] {
            return std::all_of(running_.begin(), running_.end(), [&](std::thread::id id) { return id == self; });
        });
    }

    bool isActive() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return active_;
    }

private:
    Fn fn_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    bool active_ = true;
    std::vector<std::thread::id> running_;
};

}  // namespace detail
}  // namespace ns
