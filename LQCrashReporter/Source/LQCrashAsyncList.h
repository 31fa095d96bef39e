#pragma once
// A list that a signal handler may walk while other threads add to it.
// Writers (append, prepend, remove) serialise on a spin lock; readers take
// no lock: they announce themselves by raising the reader count, follow the
// next pointers with atomic loads and lower the count. A node removed while
// readers are counted is parked on a free list instead of being freed under
// them; it keeps its next pointer, so a reader standing on it walks on into
// the list, and it is reused only once no reader is counted.

#include <atomic>
#include <cstdint>

namespace lqcrash::DV::async {

template <typename V>
class async_list {
public:
    class node {
    public:
        V value() const { return _value; }
        node* next() const { return _next.load(std::memory_order_acquire); }
        node* prev() const { return _prev; }

    private:
        friend class async_list;
        V _value{};
        node* _prev = nullptr;
        std::atomic<node*> _next{nullptr};
        node* _free_next = nullptr;  // the free list's own link
    };

    async_list() = default;
    ~async_list() { free_all(); }
    async_list(const async_list&) = delete;
    async_list& operator=(const async_list&) = delete;

    void nasync_append(V value);
    void nasync_prepend(V value);
    void nasync_remove_node(node* n);
    // Removes the first node holding value; false when there is none.
    bool nasync_remove_first_value(V value);

    void set_reading(bool enable) {
        if (enable) {
            _refcount.fetch_add(1, std::memory_order_acq_rel);
        } else {
            _refcount.fetch_sub(1, std::memory_order_acq_rel);
        }
    }
    // The successor of current, or the head when current is null.
    node* next(node* current) const {
        return current ? current->next() : _head.load(std::memory_order_acquire);
    }

    int32_t reader_count() const { return _refcount.load(); }
    node* free_list() const { return _free; }

    // Frees every node (at process exit or when the list is destroyed).
    void free_all();

private:
    void lock() {
        while (_write_lock.exchange(1, std::memory_order_acquire) != 0) {
        }
    }
    void unlock() { _write_lock.store(0, std::memory_order_release); }
    node* take_node(V value);

    std::atomic<uint32_t> _write_lock{0};
    std::atomic<node*> _head{nullptr};
    node* _tail = nullptr;
    std::atomic<int32_t> _refcount{0};
    node* _free = nullptr;
};

template <typename V>
typename async_list<V>::node* async_list<V>::take_node(V value) {
    node* n;
    if (_free && _refcount.load() == 0) {
        n = _free;
        _free = n->_free_next;
        n->_free_next = nullptr;
    } else {
        n = new node();
    }
    n->_value = value;
    n->_prev = nullptr;
    n->_next.store(nullptr, std::memory_order_release);
    return n;
}

template <typename V>
void async_list<V>::nasync_append(V value) {
    lock();
    node* n = take_node(value);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (_tail) {
        node* expected = nullptr;
        _tail->_next.compare_exchange_strong(expected, n);
        n->_prev = _tail;
        _tail = n;
    } else {
        _tail = n;
        node* expected = nullptr;
        _head.compare_exchange_strong(expected, n);
    }
    unlock();
}

template <typename V>
void async_list<V>::nasync_prepend(V value) {
    lock();
    node* n = take_node(value);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    node* head = _head.load();
    if (head) {
        n->_next.store(head);
        n->_prev = nullptr;
        head->_prev = n;
        std::atomic_thread_fence(std::memory_order_seq_cst);
        _head.compare_exchange_strong(head, n);
    } else {
        _tail = n;
        node* expected = nullptr;
        _head.compare_exchange_strong(expected, n);
    }
    unlock();
}

template <typename V>
void async_list<V>::nasync_remove_node(node* deleted) {
    lock();
    node* found = _head.load();
    while (found && found != deleted) found = found->next();
    if (!found) {
        unlock();
        return;
    }
    node* next = deleted->next();
    if (deleted->_prev) {
        node* expected = deleted;
        deleted->_prev->_next.compare_exchange_strong(expected, next);
    } else {
        node* expected = deleted;
        _head.compare_exchange_strong(expected, next);
    }
    if (next) {
        next->_prev = deleted->_prev;
    } else {
        _tail = deleted->_prev;
    }
    if (_refcount.load() > 0) {
        // A reader may still stand on this node: park it instead of freeing
        // it, so whatever it reads stays valid memory, and leave its next
        // pointer alone so that reader carries on into the list.
        deleted->_prev = nullptr;
        deleted->_free_next = _free;
        _free = deleted;
    } else {
        delete deleted;
    }
    unlock();
}

template <typename V>
bool async_list<V>::nasync_remove_first_value(V value) {
    set_reading(true);
    node* n = next(nullptr);
    while (n && n->value() != value) n = n->next();
    set_reading(false);
    if (!n) return false;
    nasync_remove_node(n);
    return true;
}

template <typename V>
void async_list<V>::free_all() {
    node* n = _head.load();
    while (n) {
        node* next = n->next();
        delete n;
        n = next;
    }
    n = _free;
    while (n) {
        node* next = n->_free_next;
        delete n;
        n = next;
    }
    _head.store(nullptr);
    _tail = nullptr;
    _free = nullptr;
}

}  // namespace lqcrash::DV::async
