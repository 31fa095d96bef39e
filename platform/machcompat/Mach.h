#pragma once
// The Mach calls the crash engine makes, on Linux. Port names are plain
// numbers whose top bits tell what they stand for (a thread, a task, a memory
// entry, an IPC port); rights are counted only where a test needs to see it.
//
// Tasks: the current process (mach_task_self()) reads its own memory with
// process_vm_readv, or through a pipe where that call is missing (qemu-user);
// a fake task holds copies of byte ranges at chosen addresses so that images
// can be examined at any slide without being loaded.
//
// Everything in this header except the fake-task set-up is async-signal-safe:
// system calls and atomics only, fixed tables, no heap.

#include <cstddef>
#include <cstdint>

using kern_return_t = int;
using mach_port_t = uint32_t;
using mach_port_name_t = uint32_t;
using task_t = mach_port_t;
using thread_t = mach_port_t;
using thread_act_t = mach_port_t;
using ipc_space_t = mach_port_t;
using mem_entry_name_port_t = mach_port_t;
using natural_t = uint32_t;
using integer_t = int32_t;
using boolean_t = int;
using vm_address_t = uintptr_t;
using vm_size_t = uintptr_t;
using vm_offset_t = uintptr_t;
using mach_vm_address_t = uint64_t;
using mach_vm_size_t = uint64_t;
using mach_vm_offset_t = uint64_t;
using memory_object_size_t = uint64_t;
using memory_object_offset_t = uint64_t;
using vm_prot_t = int;
using vm_inherit_t = unsigned int;
using mach_port_right_t = natural_t;
using mach_port_delta_t = integer_t;
using mach_port_type_t = natural_t;
using mach_msg_type_name_t = unsigned int;
using mach_msg_type_number_t = natural_t;
using thread_act_array_t = thread_act_t*;

enum : kern_return_t {
    KERN_SUCCESS = 0,
    KERN_INVALID_ADDRESS = 1,
    KERN_PROTECTION_FAILURE = 2,
    KERN_NO_SPACE = 3,
    KERN_INVALID_ARGUMENT = 4,
    KERN_FAILURE = 5,
    KERN_RESOURCE_SHORTAGE = 6,
    KERN_ABORTED = 14,
    KERN_INVALID_NAME = 15,
    KERN_INVALID_TASK = 16,
    KERN_INVALID_RIGHT = 17,
    KERN_INVALID_VALUE = 18,
    KERN_INVALID_CAPABILITY = 20,
    KERN_NOT_SUPPORTED = 46,
    KERN_OPERATION_TIMED_OUT = 49,
};

inline constexpr mach_port_t MACH_PORT_NULL = 0;
inline constexpr mach_port_t MACH_PORT_DEAD = ~0u;
inline constexpr bool MACH_PORT_VALID(mach_port_t name) { return name != MACH_PORT_NULL && name != MACH_PORT_DEAD; }

enum : mach_port_right_t {
    MACH_PORT_RIGHT_SEND = 0,
    MACH_PORT_RIGHT_RECEIVE = 1,
    MACH_PORT_RIGHT_SEND_ONCE = 2,
    MACH_PORT_RIGHT_PORT_SET = 3,
    MACH_PORT_RIGHT_DEAD_NAME = 4,
};

enum : mach_msg_type_name_t {
    MACH_MSG_TYPE_MOVE_RECEIVE = 16,
    MACH_MSG_TYPE_MOVE_SEND = 17,
    MACH_MSG_TYPE_MOVE_SEND_ONCE = 18,
    MACH_MSG_TYPE_COPY_SEND = 19,
    MACH_MSG_TYPE_MAKE_SEND = 20,
    MACH_MSG_TYPE_MAKE_SEND_ONCE = 21,
};

inline constexpr vm_prot_t VM_PROT_NONE = 0;
inline constexpr vm_prot_t VM_PROT_READ = 1;
inline constexpr vm_prot_t VM_PROT_WRITE = 2;
inline constexpr vm_prot_t VM_PROT_EXECUTE = 4;
inline constexpr int VM_FLAGS_FIXED = 0x0000;
inline constexpr int VM_FLAGS_ANYWHERE = 0x0001;
inline constexpr int VM_FLAGS_OVERWRITE = 0x4000;
inline constexpr vm_inherit_t VM_INHERIT_SHARE = 0;
inline constexpr vm_inherit_t VM_INHERIT_COPY = 1;

// The page size of this machine, set before main.
extern vm_size_t vm_page_size;
extern vm_size_t vm_page_mask;

mach_port_t mach_task_self();
// A new reference on the calling thread's port (release it with mach_port_deallocate).
mach_port_t mach_thread_self();

kern_return_t mach_port_mod_refs(ipc_space_t task, mach_port_name_t name, mach_port_right_t right,
                                 mach_port_delta_t delta);
kern_return_t mach_port_deallocate(ipc_space_t task, mach_port_name_t name);

// Reads size bytes at address of the task into data. KERN_INVALID_ADDRESS for
// an unmapped range, KERN_PROTECTION_FAILURE for a mapped but unreadable one.
kern_return_t mach_vm_read_overwrite(task_t task, mach_vm_address_t address, mach_vm_size_t size,
                                     mach_vm_address_t data, mach_vm_size_t* outsize);

// A read-only handle on [offset, offset + *size) of the task. The kernel may
// cover less than asked: *size is then shortened to the readable run that
// starts at offset (at least one page), or the call fails when the first page
// can't be read.
kern_return_t mach_make_memory_entry_64(task_t task, memory_object_size_t* size, memory_object_offset_t offset,
                                        vm_prot_t permission, mem_entry_name_port_t* object_handle,
                                        mem_entry_name_port_t parent_entry);
// Reserves local address space (only the current task can be given).
kern_return_t mach_vm_allocate(task_t task, mach_vm_address_t* address, mach_vm_size_t size, int flags);
kern_return_t mach_vm_deallocate(task_t task, mach_vm_address_t address, mach_vm_size_t size);
// Places a copy of a memory entry's bytes at *address (VM_FLAGS_FIXED |
// VM_FLAGS_OVERWRITE over an earlier reservation, or anywhere).
kern_return_t mach_vm_map(task_t target_task, mach_vm_address_t* address, mach_vm_size_t size,
                          mach_vm_offset_t mask, int flags, mem_entry_name_port_t object,
                          memory_object_offset_t offset, boolean_t copy, vm_prot_t cur_protection,
                          vm_prot_t max_protection, vm_inherit_t inheritance);
kern_return_t vm_allocate(task_t task, vm_address_t* address, vm_size_t size, int flags);
kern_return_t vm_deallocate(task_t task, vm_address_t address, vm_size_t size);

// "(os/kern) invalid address" and so on, for log lines.
const char* mach_error_string(kern_return_t error);

namespace mach {

// Port name layout.
inline constexpr uint32_t kPortKindMask = 0xF0000000u;
inline constexpr uint32_t kThreadPortKind = 0x10000000u;
inline constexpr uint32_t kTaskPortKind = 0x20000000u;
inline constexpr uint32_t kIpcPortKind = 0x30000000u;
inline constexpr uint32_t kMemoryEntryPortKind = 0x40000000u;

inline constexpr bool isThreadPort(mach_port_t p) { return (p & kPortKindMask) == kThreadPortKind; }
inline constexpr bool isTaskPort(mach_port_t p) { return (p & kPortKindMask) == kTaskPortKind; }
inline constexpr bool isIpcPort(mach_port_t p) { return (p & kPortKindMask) == kIpcPortKind; }
inline constexpr thread_t threadPortForTid(int tid) { return kThreadPortKind | static_cast<uint32_t>(tid); }
inline constexpr int tidForThreadPort(thread_t t) { return static_cast<int>(t & ~kPortKindMask); }

// Where the platform keeps pointer-authentication or tag bits in code and
// stack pointers, the mask of the bits that remain an address. The engine's
// own platform kept 36 bits; 64-bit ARM Linux (and x86-64) user addresses
// need 48.
inline constexpr uint64_t kPointerAddressMask = 0x0000FFFFFFFFFFFFull;

// A fake task: an address space made of byte ranges copied in by a test. Not
// async-signal-safe (it allocates); reads from it are.
task_t fakeTaskCreate();
// Adds a copy of the bytes at address. prot VM_PROT_NONE makes the range
// present but unreadable. Ranges must not overlap.
bool fakeTaskMap(task_t task, mach_vm_address_t address, const void* bytes, size_t length,
                 vm_prot_t prot = VM_PROT_READ);
// Send rights held on the task beyond the creator's own.
int fakeTaskExtraRights(task_t task);
void fakeTaskDestroy(task_t task);

// Reads memory of the current process; false on a fault (never crashes).
bool readSelfMemory(uintptr_t address, void* destination, size_t length);
// A cache of page copies for reads of the current task, held by one thread
// at a time (a crash report): while it is held, that thread's reads of the
// current task (mach_vm_read_overwrite and memory entries) are served from
// copies of whole pages, each read once from the kernel; other threads read
// as before. Taking it empties it and takes the process id for its reads,
// so nothing read in one session serves the next. A page that can't be read
// is never kept: the read fails as it would without the cache. Reads of more
// than a few pages go straight through. The memory is reserved once, ahead
// (not async-signal-safe); taking, reading and releasing are.
bool reservePageCache(size_t pages);
// False when none is reserved or a session is under way; one that is under
// way on the calling thread (interrupted by this one) stops being served.
bool takePageCache();
// Ends the session the calling thread took.
void releasePageCache();
// Forces the pipe fallback even where process_vm_readv works, for tests.
void setForcePipeReads(bool force);
bool usingPipeReads();

// Failures injected by tests into calls that don't fail on a healthy
// machine: after `skip` calls that work, the next `times` calls of the kind
// return kr. Async-signal-safe to consume.
enum class InjectedCall { taskThreads, vmAllocate };
void injectFailure(InjectedCall call, kern_return_t kr, int skip = 0, int times = 1);
void clearInjectedFailures();

}  // namespace mach
