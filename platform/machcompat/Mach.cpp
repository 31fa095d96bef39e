#include "platform/machcompat/Mach.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/machcompat/detail/Internal.h"

vm_size_t vm_page_size = static_cast<vm_size_t>(::sysconf(_SC_PAGESIZE));
vm_size_t vm_page_mask = static_cast<vm_size_t>(::sysconf(_SC_PAGESIZE)) - 1;

namespace mach {
namespace {

constexpr mach_port_t kSelfTaskPort = kTaskPortKind | 1u;
constexpr uint32_t kFakeTaskBase = 0x100u;
constexpr int kMaxFakeTasks = 32;

struct Region {
    mach_vm_address_t address;
    std::vector<uint8_t> bytes;
    vm_prot_t prot;
};

struct FakeTask {
    std::atomic<bool> used{false};
    std::atomic<int> rights{0};
    std::vector<Region> regions;  // changed only while no reader runs (test set-up)
};

FakeTask g_fakeTasks[kMaxFakeTasks];
std::mutex g_fakeTaskMutex;

FakeTask* fakeTask(task_t task) {
    if (!isTaskPort(task)) return nullptr;
    uint32_t index = task & ~kPortKindMask;
    if (index < kFakeTaskBase || index >= kFakeTaskBase + kMaxFakeTasks) return nullptr;
    FakeTask* t = &g_fakeTasks[index - kFakeTaskBase];
    return t->used.load(std::memory_order_acquire) ? t : nullptr;
}

bool isSelfTask(task_t task) { return task == kSelfTaskPort; }

// 0 not yet known, 1 process_vm_readv works, 2 it is missing (qemu-user).
std::atomic<int> g_pvrState{0};
std::atomic<bool> g_forcePipe{false};

// Failures tests injected, per InjectedCall.
struct Injection {
    std::atomic<int> skip{0};
    std::atomic<int> times{0};
    std::atomic<kern_return_t> kr{KERN_SUCCESS};
};
Injection g_injections[2];

// Raw system calls: the sanitizers' interceptors would otherwise inspect the
// foreign bytes we are probing.
ssize_t rawWrite(int fd, const void* buf, size_t n) { return ::syscall(SYS_write, fd, buf, n); }
ssize_t rawRead(int fd, void* buf, size_t n) { return ::syscall(SYS_read, fd, buf, n); }

// Bytes readable from address on, up to length, through a pipe: the kernel
// copies from our own address space and reports EFAULT instead of faulting.
size_t pipeRead(uintptr_t address, void* destination, size_t length) {
    int fds[2];
    if (::syscall(SYS_pipe2, fds, O_CLOEXEC) != 0) return 0;
    size_t done = 0;
    uint8_t* out = static_cast<uint8_t*>(destination);
    while (done < length) {
        size_t chunk = length - done;
        if (chunk > 4096) chunk = 4096;
        ssize_t w = rawWrite(fds[1], reinterpret_cast<const void*>(address + done), chunk);
        if (w <= 0) {
            if (w < 0 && errno == EINTR) continue;
            break;
        }
        size_t got = 0;
        while (got < static_cast<size_t>(w)) {
            ssize_t r = rawRead(fds[0], out ? out + done + got : nullptr, static_cast<size_t>(w) - got);
            if (r <= 0) {
                if (r < 0 && errno == EINTR) continue;
                break;
            }
            got += static_cast<size_t>(r);
        }
        done += got;
        if (got < static_cast<size_t>(w)) break;
    }
    ::close(fds[0]);
    ::close(fds[1]);
    return done;
}

size_t pvrRead(pid_t self, uintptr_t address, void* destination, size_t length, bool* unsupported) {
    *unsupported = false;
    size_t done = 0;
    uint8_t* out = static_cast<uint8_t*>(destination);
    while (done < length) {
        struct iovec local = {out + done, length - done};
        struct iovec remote = {reinterpret_cast<void*>(address + done), length - done};
        ssize_t n = ::process_vm_readv(self, &local, 1, &remote, 1, 0);
        if (n < 0) {
            if (errno == ENOSYS || errno == EPERM) *unsupported = true;
            break;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

// How much of [address, address + length) the current process (self, or
// the id asked for now when 0) can read.
size_t selfReadable(uintptr_t address, void* destination, size_t length, pid_t self = 0) {
    if (!g_forcePipe.load(std::memory_order_relaxed) && g_pvrState.load(std::memory_order_relaxed) != 2) {
        bool unsupported = false;
        size_t n = pvrRead(self ? self : ::getpid(), address, destination, length, &unsupported);
        if (!unsupported) {
            g_pvrState.store(1, std::memory_order_relaxed);
            return n;
        }
        g_pvrState.store(2, std::memory_order_relaxed);
    }
    return pipeRead(address, destination, length);
}

kern_return_t classifyFault(uintptr_t address) {
    uintptr_t page = address & ~static_cast<uintptr_t>(vm_page_mask);
    unsigned char vec = 0;
    if (::mincore(reinterpret_cast<void*>(page), vm_page_size, &vec) != 0 && errno == ENOMEM) {
        return KERN_INVALID_ADDRESS;
    }
    return KERN_PROTECTION_FAILURE;
}

// The page cache: sets of a few slots, each a copy of one 4 KiB block
// (readable or not as a whole on every page size) under its address.
constexpr uintptr_t kCacheBlock = 4096;
constexpr size_t kCacheWays = 4;
constexpr size_t kCacheMostBlocks = 4;  // larger reads go straight through

struct PageCache {
    std::atomic<size_t> sets{0};  // set once the memory is reserved
    std::atomic<bool> held{false};
    // The holding thread's pointer; only that thread sets it to itself, so
    // no other thread ever takes it for its own.
    std::atomic<void*> owner{nullptr};
    pid_t pid = 0;
    uint8_t* blocks = nullptr;
    uintptr_t* tags = nullptr;  // the block's address + 1 when the slot holds its copy, else 0
    uint32_t* ages = nullptr;   // last use; 0 for an empty slot
    uint32_t clock = 0;
};
PageCache g_pageCache;
std::mutex g_pageCacheReserveMutex;

bool pageCacheServesCaller() {
    return g_pageCache.owner.load(std::memory_order_acquire) == __builtin_thread_pointer();
}

// Whether a read of this many bytes by the calling thread goes through the cache.
bool pageCacheServes(uint64_t length) {
    return length <= kCacheMostBlocks * kCacheBlock && pageCacheServesCaller();
}

// The copy of the block at address (4 KiB aligned), read now when it isn't
// kept; null when it can't be read whole.
const uint8_t* cachedBlock(uintptr_t block) {
    PageCache& c = g_pageCache;
    size_t sets = c.sets.load(std::memory_order_relaxed);
    uint64_t hash = (static_cast<uint64_t>(block / kCacheBlock) * 0x9E3779B97F4A7C15ull) >> 32;
    size_t first = static_cast<size_t>(hash % sets) * kCacheWays;
    size_t victim = first;
    for (size_t slot = first; slot < first + kCacheWays; ++slot) {
        if (c.tags[slot] == block + 1) {
            c.ages[slot] = ++c.clock;
            return c.blocks + slot * kCacheBlock;
        }
        if (c.ages[slot] < c.ages[victim]) victim = slot;
    }
    uint8_t* copy = c.blocks + victim * kCacheBlock;
    // Marked empty while it is filled: a handler that interrupts the fill
    // on this thread finds no half-made copy.
    c.tags[victim] = 0;
    c.ages[victim] = 0;
    if (selfReadable(block, copy, kCacheBlock, c.pid) != kCacheBlock) return nullptr;
    c.tags[victim] = block + 1;
    c.ages[victim] = ++c.clock;
    return copy;
}

kern_return_t cachedSelfRead(uintptr_t address, void* destination, size_t length) {
    uint8_t* out = static_cast<uint8_t*>(destination);
    size_t done = 0;
    while (done < length) {
        uintptr_t at = address + done;
        uintptr_t block = at & ~(kCacheBlock - 1);
        size_t offset = static_cast<size_t>(at - block);
        size_t n = kCacheBlock - offset < length - done ? kCacheBlock - offset : length - done;
        const uint8_t* copy = cachedBlock(block);
        if (!copy) return classifyFault(at);
        if (out) std::memcpy(out + done, copy + offset, n);
        done += n;
    }
    return KERN_SUCCESS;
}

// Copies from a fake task; ranges may span adjacent regions.
kern_return_t fakeRead(FakeTask* t, mach_vm_address_t address, void* destination, size_t length, size_t* copied) {
    size_t done = 0;
    uint8_t* out = static_cast<uint8_t*>(destination);
    while (done < length) {
        mach_vm_address_t at = address + done;
        if (at < address) break;  // wrapped
        const Region* found = nullptr;
        for (const Region& r : t->regions) {
            if (at >= r.address && at - r.address < r.bytes.size()) {
                found = &r;
                break;
            }
        }
        if (!found) {
            if (copied) *copied = done;
            return KERN_INVALID_ADDRESS;
        }
        if (!(found->prot & VM_PROT_READ)) {
            if (copied) *copied = done;
            return KERN_PROTECTION_FAILURE;
        }
        size_t offset = static_cast<size_t>(at - found->address);
        size_t n = found->bytes.size() - offset;
        if (n > length - done) n = length - done;
        if (out) std::memcpy(out + done, found->bytes.data() + offset, n);
        done += n;
    }
    if (copied) *copied = done;
    return done == length ? KERN_SUCCESS : KERN_INVALID_ADDRESS;
}

// Copies the readable parts of [address, address + length) of a fake task;
// fails only when nothing there is readable.
kern_return_t fakeCopyAvailable(FakeTask* t, mach_vm_address_t address, uint8_t* out, size_t length) {
    bool any = false;
    for (const Region& r : t->regions) {
        if (!(r.prot & VM_PROT_READ)) continue;
        mach_vm_address_t start = r.address > address ? r.address : address;
        mach_vm_address_t end = r.address + r.bytes.size() < address + length ? r.address + r.bytes.size()
                                                                               : address + length;
        if (start >= end) continue;
        std::memcpy(out + (start - address), r.bytes.data() + (start - r.address), static_cast<size_t>(end - start));
        any = true;
    }
    return any ? KERN_SUCCESS : KERN_INVALID_ADDRESS;
}

// Memory entries: a fixed table, released by mach_port_deallocate.
constexpr int kMaxEntries = 128;
struct MemoryEntry {
    std::atomic<int> used{0};
    task_t task = 0;
    uint64_t address = 0;
    uint64_t size = 0;
};
MemoryEntry g_entries[kMaxEntries];

MemoryEntry* entryForPort(mach_port_t port) {
    if ((port & kPortKindMask) != kMemoryEntryPortKind) return nullptr;
    uint32_t index = port & ~kPortKindMask;
    if (index >= static_cast<uint32_t>(kMaxEntries)) return nullptr;
    MemoryEntry* e = &g_entries[index];
    return e->used.load(std::memory_order_acquire) ? e : nullptr;
}

// Readable run from address, up to length, in whole pages of the task.
uint64_t readableRun(task_t task, uint64_t address, uint64_t length) {
    uint64_t page = vm_page_size;
    uint64_t covered = 0;
    if (FakeTask* t = fakeTask(task)) {
        while (covered < length) {
            uint8_t probe;
            if (fakeRead(t, address + covered, &probe, 1, nullptr) != KERN_SUCCESS) break;
            covered += page;
        }
    } else if (isSelfTask(task)) {
        // One byte of each page; a page is readable as a whole or not at all.
        const bool cached = pageCacheServes(length);
        while (covered < length) {
            uint8_t probe;
            uintptr_t at = static_cast<uintptr_t>(address + covered);
            if (cached ? cachedSelfRead(at, &probe, 1) != KERN_SUCCESS : selfReadable(at, &probe, 1) != 1) break;
            covered += page;
        }
    }
    return covered < length ? covered : length;
}

}  // namespace

task_t fakeTaskCreate() {
    std::lock_guard<std::mutex> lock(g_fakeTaskMutex);
    for (int i = 0; i < kMaxFakeTasks; ++i) {
        if (!g_fakeTasks[i].used.load()) {
            g_fakeTasks[i].regions.clear();
            g_fakeTasks[i].rights.store(0);
            g_fakeTasks[i].used.store(true, std::memory_order_release);
            return kTaskPortKind | (kFakeTaskBase + static_cast<uint32_t>(i));
        }
    }
    return MACH_PORT_NULL;
}

bool fakeTaskMap(task_t task, mach_vm_address_t address, const void* bytes, size_t length, vm_prot_t prot) {
    std::lock_guard<std::mutex> lock(g_fakeTaskMutex);
    FakeTask* t = fakeTask(task);
    if (!t || length == 0) return false;
    for (const Region& r : t->regions) {
        if (address < r.address + r.bytes.size() && r.address < address + length) return false;
    }
    Region region{address, std::vector<uint8_t>(length), prot};
    if (bytes) std::memcpy(region.bytes.data(), bytes, length);
    t->regions.push_back(std::move(region));
    return true;
}

int fakeTaskExtraRights(task_t task) {
    FakeTask* t = fakeTask(task);
    return t ? t->rights.load() : 0;
}

void fakeTaskDestroy(task_t task) {
    std::lock_guard<std::mutex> lock(g_fakeTaskMutex);
    FakeTask* t = fakeTask(task);
    if (!t) return;
    t->regions.clear();
    t->used.store(false, std::memory_order_release);
}

bool readSelfMemory(uintptr_t address, void* destination, size_t length) {
    if (length == 0) return true;
    if (address + length < address) return false;
    return selfReadable(address, destination, length) == length;
}

bool reservePageCache(size_t pages) {
    std::lock_guard<std::mutex> lock(g_pageCacheReserveMutex);
    PageCache& c = g_pageCache;
    if (c.sets.load() > 0) return true;
    size_t sets = pages / kCacheWays;
    if (sets == 0) return false;
    size_t slots = sets * kCacheWays;
    size_t bytes = slots * (kCacheBlock + sizeof(uintptr_t) + sizeof(uint32_t));
    void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return false;
    c.blocks = static_cast<uint8_t*>(memory);
    c.tags = reinterpret_cast<uintptr_t*>(c.blocks + slots * kCacheBlock);
    c.ages = reinterpret_cast<uint32_t*>(c.tags + slots);
    c.sets.store(sets, std::memory_order_release);
    return true;
}

bool takePageCache() {
    PageCache& c = g_pageCache;
    size_t sets = c.sets.load(std::memory_order_acquire);
    if (sets == 0) return false;
    bool expected = false;
    if (!c.held.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
        // A session that starts inside the holder's own (a crash while it
        // writes) must not see copies made before: its thread has moved on.
        if (pageCacheServesCaller()) c.owner.store(nullptr, std::memory_order_release);
        return false;
    }
    for (size_t slot = 0; slot < sets * kCacheWays; ++slot) {
        c.tags[slot] = 0;
        c.ages[slot] = 0;
    }
    c.clock = 0;
    c.pid = ::getpid();
    c.owner.store(__builtin_thread_pointer(), std::memory_order_release);
    return true;
}

void releasePageCache() {
    PageCache& c = g_pageCache;
    c.owner.store(nullptr, std::memory_order_release);
    c.held.store(false, std::memory_order_release);
}

void setForcePipeReads(bool force) { g_forcePipe.store(force); }

void injectFailure(InjectedCall call, kern_return_t kr, int skip, int times) {
    Injection& in = g_injections[static_cast<int>(call)];
    in.times.store(0);
    in.kr.store(kr);
    in.skip.store(skip);
    in.times.store(times, std::memory_order_release);
}

void clearInjectedFailures() {
    for (Injection& in : g_injections) in.times.store(0);
}

bool usingPipeReads() {
    if (g_forcePipe.load()) return true;
    if (g_pvrState.load() == 0) {
        uint8_t probe = 0, dst = 0;
        selfReadable(reinterpret_cast<uintptr_t>(&probe), &dst, 1);
    }
    return g_pvrState.load() == 2;
}

namespace detail {

bool takeInjectedFailure(InjectedCall call, kern_return_t* kr) {
    Injection& in = g_injections[static_cast<int>(call)];
    if (in.times.load(std::memory_order_acquire) <= 0) return false;
    if (in.skip.fetch_sub(1) > 0) return false;
    if (in.times.fetch_sub(1) <= 0) return false;
    *kr = in.kr.load();
    return true;
}

bool isFakeTask(task_t task) { return fakeTask(task) != nullptr; }
bool isSelf(task_t task) { return isSelfTask(task); }

}  // namespace detail
}  // namespace mach

using namespace mach;

mach_port_t mach_task_self() { return kSelfTaskPort; }

mach_port_t mach_thread_self() { return threadPortForTid(static_cast<int>(::syscall(SYS_gettid))); }

kern_return_t mach_port_mod_refs(ipc_space_t task, mach_port_name_t name, mach_port_right_t right,
                                 mach_port_delta_t delta) {
    if (!isSelfTask(task)) return KERN_INVALID_TASK;
    if (!MACH_PORT_VALID(name)) {
        return right == MACH_PORT_RIGHT_SEND || right == MACH_PORT_RIGHT_SEND_ONCE ? KERN_SUCCESS : KERN_INVALID_VALUE;
    }
    if (isIpcPort(name)) return detail::ipcModRefs(name, right, delta);
    if (FakeTask* t = fakeTask(name)) {
        if (right != MACH_PORT_RIGHT_SEND) return KERN_INVALID_RIGHT;
        t->rights.fetch_add(delta);
        return KERN_SUCCESS;
    }
    if (MemoryEntry* e = entryForPort(name)) {
        if (delta < 0) e->used.store(0, std::memory_order_release);
        return KERN_SUCCESS;
    }
    if (isSelfTask(name) || isThreadPort(name)) return right == MACH_PORT_RIGHT_SEND ? KERN_SUCCESS : KERN_INVALID_RIGHT;
    return KERN_INVALID_NAME;
}

kern_return_t mach_port_deallocate(ipc_space_t task, mach_port_name_t name) {
    if (isIpcPort(name)) {
        if (!isSelfTask(task)) return KERN_INVALID_TASK;
        return detail::ipcDeallocate(name);
    }
    return mach_port_mod_refs(task, name, MACH_PORT_RIGHT_SEND, -1);
}

kern_return_t mach_vm_read_overwrite(task_t task, mach_vm_address_t address, mach_vm_size_t size,
                                     mach_vm_address_t data, mach_vm_size_t* outsize) {
    void* destination = reinterpret_cast<void*>(static_cast<uintptr_t>(data));
    if (outsize) *outsize = 0;
    if (address + size < address) return KERN_INVALID_ADDRESS;
    if (FakeTask* t = fakeTask(task)) {
        size_t copied = 0;
        kern_return_t kr = fakeRead(t, address, destination, static_cast<size_t>(size), &copied);
        if (kr == KERN_SUCCESS && outsize) *outsize = size;
        return kr;
    }
    if (!isSelfTask(task)) return KERN_INVALID_ARGUMENT;
    if (size == 0) return KERN_SUCCESS;
    if (pageCacheServes(size)) {
        kern_return_t kr = cachedSelfRead(static_cast<uintptr_t>(address), destination, static_cast<size_t>(size));
        if (kr == KERN_SUCCESS && outsize) *outsize = size;
        return kr;
    }
    size_t n = selfReadable(static_cast<uintptr_t>(address), destination, static_cast<size_t>(size));
    if (n == size) {
        if (outsize) *outsize = size;
        return KERN_SUCCESS;
    }
    return classifyFault(static_cast<uintptr_t>(address + n));
}

kern_return_t mach_make_memory_entry_64(task_t task, memory_object_size_t* size, memory_object_offset_t offset,
                                        vm_prot_t permission, mem_entry_name_port_t* object_handle,
                                        mem_entry_name_port_t /*parent_entry*/) {
    if (!size || !object_handle) return KERN_INVALID_ARGUMENT;
    if ((permission & ~VM_PROT_READ) != 0) return KERN_PROTECTION_FAILURE;
    if (!isSelfTask(task) && !fakeTask(task)) return KERN_INVALID_ARGUMENT;
    if (*size == 0 || offset + *size < offset) return KERN_INVALID_ARGUMENT;
    uint64_t run = readableRun(task, offset, *size);
    if (run == 0) return KERN_INVALID_ADDRESS;
    for (int i = 0; i < kMaxEntries; ++i) {
        int expected = 0;
        if (g_entries[i].used.compare_exchange_strong(expected, 2, std::memory_order_acq_rel)) {
            g_entries[i].task = task;
            g_entries[i].address = offset;
            g_entries[i].size = run;
            g_entries[i].used.store(1, std::memory_order_release);
            *size = run;
            *object_handle = kMemoryEntryPortKind | static_cast<uint32_t>(i);
            return KERN_SUCCESS;
        }
    }
    return KERN_RESOURCE_SHORTAGE;
}

kern_return_t mach_vm_allocate(task_t task, mach_vm_address_t* address, mach_vm_size_t size, int flags) {
    if (!isSelfTask(task) || !address || size == 0) return KERN_INVALID_ARGUMENT;
    int mflags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
    void* hint = nullptr;
    if (!(flags & VM_FLAGS_ANYWHERE)) {
        hint = reinterpret_cast<void*>(static_cast<uintptr_t>(*address));
        mflags |= (flags & VM_FLAGS_OVERWRITE) ? MAP_FIXED : MAP_FIXED_NOREPLACE;
    }
    void* p = ::mmap(hint, static_cast<size_t>(size), PROT_READ | PROT_WRITE, mflags, -1, 0);
    if (p == MAP_FAILED) return KERN_NO_SPACE;
    *address = reinterpret_cast<uintptr_t>(p);
    return KERN_SUCCESS;
}

kern_return_t mach_vm_deallocate(task_t task, mach_vm_address_t address, mach_vm_size_t size) {
    if (!isSelfTask(task)) return KERN_INVALID_ARGUMENT;
    if (size == 0) return KERN_SUCCESS;
    uintptr_t start = static_cast<uintptr_t>(address) & ~static_cast<uintptr_t>(vm_page_mask);
    size_t length = static_cast<size_t>(address + size - start);
    length = (length + vm_page_mask) & ~static_cast<size_t>(vm_page_mask);
    return ::munmap(reinterpret_cast<void*>(start), length) == 0 ? KERN_SUCCESS : KERN_INVALID_ADDRESS;
}

kern_return_t mach_vm_map(task_t target_task, mach_vm_address_t* address, mach_vm_size_t size,
                          mach_vm_offset_t /*mask*/, int flags, mem_entry_name_port_t object,
                          memory_object_offset_t offset, boolean_t /*copy*/, vm_prot_t cur_protection,
                          vm_prot_t /*max_protection*/, vm_inherit_t /*inheritance*/) {
    if (!isSelfTask(target_task) || !address || size == 0) return KERN_INVALID_ARGUMENT;
    MemoryEntry* e = entryForPort(object);
    if (!e) return KERN_INVALID_RIGHT;
    uint64_t entryPages = (e->size + vm_page_mask) & ~static_cast<uint64_t>(vm_page_mask);
    if (offset > entryPages || size > entryPages - offset) return KERN_INVALID_ARGUMENT;
    mach_vm_address_t at = *address;
    kern_return_t kr = mach_vm_allocate(target_task, &at, size, flags);
    if (kr != KERN_SUCCESS) return kr;
    uint64_t source = e->address + offset;
    uint64_t available = e->size > offset ? e->size - offset : 0;
    uint64_t n = available < size ? available : size;
    if (n > 0) {
        kern_return_t rr;
        if (FakeTask* t = fakeTask(e->task)) {
            // A fake task's ranges need not fill whole pages: copy what is
            // there and leave the rest of the page zero, as a mapping would.
            rr = fakeCopyAvailable(t, source, reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(at)), n);
        } else {
            rr = mach_vm_read_overwrite(e->task, source, n, at, nullptr);
        }
        if (rr != KERN_SUCCESS) {
            ::munmap(reinterpret_cast<void*>(static_cast<uintptr_t>(at)), static_cast<size_t>(size));
            return rr;
        }
    }
    int prot = (cur_protection & VM_PROT_WRITE) ? PROT_READ | PROT_WRITE : PROT_READ;
    ::mprotect(reinterpret_cast<void*>(static_cast<uintptr_t>(at)), static_cast<size_t>(size), prot);
    *address = at;
    return KERN_SUCCESS;
}

kern_return_t vm_allocate(task_t task, vm_address_t* address, vm_size_t size, int flags) {
    if (!address) return KERN_INVALID_ARGUMENT;
    if (kern_return_t injected; detail::takeInjectedFailure(InjectedCall::vmAllocate, &injected)) return injected;
    mach_vm_address_t at = *address;
    kern_return_t kr = mach_vm_allocate(task, &at, size, flags);
    if (kr == KERN_SUCCESS) *address = static_cast<vm_address_t>(at);
    return kr;
}

kern_return_t vm_deallocate(task_t task, vm_address_t address, vm_size_t size) {
    return mach_vm_deallocate(task, address, size);
}

const char* mach_error_string(kern_return_t error) {
    switch (error) {
        case KERN_SUCCESS: return "(os/kern) successful";
        case KERN_INVALID_ADDRESS: return "(os/kern) invalid address";
        case KERN_PROTECTION_FAILURE: return "(os/kern) protection failure";
        case KERN_NO_SPACE: return "(os/kern) no space available";
        case KERN_INVALID_ARGUMENT: return "(os/kern) invalid argument";
        case KERN_FAILURE: return "(os/kern) failure";
        case KERN_RESOURCE_SHORTAGE: return "(os/kern) resource shortage";
        case KERN_ABORTED: return "(os/kern) operation aborted";
        case KERN_INVALID_NAME: return "(os/kern) invalid name";
        case KERN_INVALID_TASK: return "(os/kern) invalid task";
        case KERN_INVALID_RIGHT: return "(os/kern) invalid right";
        case KERN_INVALID_VALUE: return "(os/kern) invalid value";
        case KERN_INVALID_CAPABILITY: return "(os/kern) invalid capability";
        case KERN_NOT_SUPPORTED: return "(os/kern) operation not supported";
        case KERN_OPERATION_TIMED_OUT: return "(os/kern) operation timed out";
        default: return "(os/kern) unknown error code";
    }
}
