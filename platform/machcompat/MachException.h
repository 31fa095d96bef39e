#pragma once
// Mach IPC and exception ports, emulated inside one process.
//
// Ports are mailboxes in a fixed table; messages are byte copies kept in a
// fixed pool, so sending and receiving allocate nothing and take no lock
// (atomics and futexes only) and may be used from a signal handler.
//
// Exception ports: once a port is installed for an exception type, a
// fault-signal trampoline turns the matching synchronous signal (SIGSEGV,
// SIGBUS, SIGILL, SIGFPE, SIGTRAP) into an exception request message sent to
// that port, parks the faulting thread with its registers (so the handler can
// read them with thread_get_state) and waits for the reply. KERN_SUCCESS
// resumes the thread; anything else passes the fault on as the signal it
// was: to the signal handler installed before, or to the default action.
// Setting exception ports arms the trampoline again wherever another handler
// has replaced it since; that handler is then the one faults are passed on
// to. A fault on the thread that waits for messages on the exception port
// (an exception server faulting in its own handler) can't be answered: it
// takes the signal's default action at once.

#include <cstdint>

#include "platform/machcompat/Mach.h"
#include "platform/machcompat/MachThread.h"

using mach_msg_bits_t = uint32_t;
using mach_msg_size_t = uint32_t;
using mach_msg_id_t = int32_t;
using mach_msg_option_t = int32_t;
using mach_msg_timeout_t = uint32_t;
using mach_msg_return_t = kern_return_t;
using exception_type_t = int;
using exception_mask_t = uint32_t;
using exception_behavior_t = int;
using exception_data_type_t = int32_t;
using mach_exception_data_type_t = int64_t;
using exception_data_t = exception_data_type_t*;
using mach_exception_data_t = mach_exception_data_type_t*;
using exception_mask_array_t = exception_mask_t*;
using exception_port_array_t = mach_port_t*;
using exception_behavior_array_t = exception_behavior_t*;
using exception_flavor_array_t = thread_state_flavor_t*;

struct mach_msg_header_t {
    mach_msg_bits_t msgh_bits;
    mach_msg_size_t msgh_size;
    mach_port_t msgh_remote_port;
    mach_port_t msgh_local_port;
    mach_port_name_t msgh_voucher_port;
    mach_msg_id_t msgh_id;
};

inline constexpr mach_msg_bits_t MACH_MSGH_BITS_COMPLEX = 0x80000000u;
inline constexpr mach_msg_bits_t MACH_MSGH_BITS(mach_msg_bits_t remote, mach_msg_bits_t local) {
    return remote | (local << 8);
}
inline constexpr mach_msg_bits_t MACH_MSGH_BITS_REMOTE(mach_msg_bits_t bits) { return bits & 0x1f; }
inline constexpr mach_msg_bits_t MACH_MSGH_BITS_LOCAL(mach_msg_bits_t bits) { return (bits >> 8) & 0x1f; }

enum : mach_msg_option_t {
    MACH_MSG_OPTION_NONE = 0,
    MACH_SEND_MSG = 0x1,
    MACH_RCV_MSG = 0x2,
    MACH_RCV_LARGE = 0x4,
    MACH_SEND_TIMEOUT = 0x10,
    MACH_RCV_TIMEOUT = 0x100,
};
inline constexpr mach_msg_timeout_t MACH_MSG_TIMEOUT_NONE = 0;

enum : mach_msg_return_t {
    MACH_MSG_SUCCESS = 0,
    MACH_SEND_INVALID_DATA = 0x10000002,
    MACH_SEND_INVALID_DEST = 0x10000003,
    MACH_SEND_TIMED_OUT = 0x10000004,
    MACH_SEND_NO_BUFFER = 0x1000000d,
    MACH_SEND_MSG_TOO_SMALL = 0x10000008,
    MACH_RCV_INVALID_NAME = 0x10004002,
    MACH_RCV_TIMED_OUT = 0x10004003,
    MACH_RCV_TOO_LARGE = 0x10004004,
    MACH_RCV_PORT_DIED = 0x10004009,
};

// Notification ids.
inline constexpr mach_msg_id_t MACH_NOTIFY_NO_SENDERS = 70;

struct NDR_record_t {
    uint8_t mig_vers, if_vers, reserved1, mig_encoding, int_rep, char_rep, float_rep, reserved2;
};
extern const NDR_record_t NDR_record;

#pragma pack(push, 4)
struct mach_msg_body_t {
    uint32_t msgh_descriptor_count;
};
struct mach_msg_port_descriptor_t {
    mach_port_t name;
    uint32_t pad1;
    uint16_t pad2;
    uint8_t disposition;
    uint8_t type;
};
// The 64-bit-code exception request of EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES.
struct mach_exception_raise_request_t {
    mach_msg_header_t Head;
    mach_msg_body_t msgh_body;
    mach_msg_port_descriptor_t thread;
    mach_msg_port_descriptor_t task;
    NDR_record_t NDR;
    exception_type_t exception;
    mach_msg_type_number_t codeCnt;
    int64_t code[2];
};
struct mig_reply_error_t {
    mach_msg_header_t Head;
    NDR_record_t NDR;
    kern_return_t RetCode;
};
#pragma pack(pop)
static_assert(sizeof(mach_exception_raise_request_t) == 84);
static_assert(sizeof(mig_reply_error_t) == 36);

// Exception types, masks and behaviors.
enum : exception_type_t {
    EXC_BAD_ACCESS = 1,
    EXC_BAD_INSTRUCTION = 2,
    EXC_ARITHMETIC = 3,
    EXC_EMULATION = 4,
    EXC_SOFTWARE = 5,
    EXC_BREAKPOINT = 6,
    EXC_SYSCALL = 7,
    EXC_MACH_SYSCALL = 8,
    EXC_RPC_ALERT = 9,
    EXC_CRASH = 10,
    EXC_RESOURCE = 11,
    EXC_GUARD = 12,
    EXC_CORPSE_NOTIFY = 13,
};
inline constexpr int EXC_TYPES_COUNT = 14;
inline constexpr exception_mask_t EXC_MASK_BAD_ACCESS = 1u << EXC_BAD_ACCESS;
inline constexpr exception_mask_t EXC_MASK_BAD_INSTRUCTION = 1u << EXC_BAD_INSTRUCTION;
inline constexpr exception_mask_t EXC_MASK_ARITHMETIC = 1u << EXC_ARITHMETIC;
inline constexpr exception_mask_t EXC_MASK_EMULATION = 1u << EXC_EMULATION;
inline constexpr exception_mask_t EXC_MASK_SOFTWARE = 1u << EXC_SOFTWARE;
inline constexpr exception_mask_t EXC_MASK_BREAKPOINT = 1u << EXC_BREAKPOINT;
inline constexpr exception_mask_t EXC_MASK_CRASH = 1u << EXC_CRASH;
inline constexpr exception_mask_t EXC_MASK_GUARD = 1u << EXC_GUARD;
enum : exception_behavior_t {
    EXCEPTION_DEFAULT = 1,
    EXCEPTION_STATE = 2,
    EXCEPTION_STATE_IDENTITY = 3,
};
inline constexpr exception_behavior_t MACH_EXCEPTION_CODES = static_cast<exception_behavior_t>(0x80000000u);

// Ports and port sets.
kern_return_t mach_port_allocate(ipc_space_t task, mach_port_right_t right, mach_port_name_t* name);
kern_return_t mach_port_insert_right(ipc_space_t task, mach_port_name_t name, mach_port_t poly,
                                     mach_msg_type_name_t polyPoly);
kern_return_t mach_port_move_member(ipc_space_t task, mach_port_name_t member, mach_port_name_t after);
kern_return_t mach_port_request_notification(ipc_space_t task, mach_port_name_t name, mach_msg_id_t msgid,
                                             mach_port_t sync, mach_port_t notify, mach_msg_type_name_t notifyPoly,
                                             mach_port_t* previous);

// Sends and/or receives. A received message's remote port is the sender's
// reply port and its local port the port it arrived on.
mach_msg_return_t mach_msg(mach_msg_header_t* msg, mach_msg_option_t option, mach_msg_size_t send_size,
                           mach_msg_size_t rcv_size, mach_port_name_t rcv_name, mach_msg_timeout_t timeout,
                           mach_port_name_t notify);

// Exception ports of the task (only the current one) and of its threads.
kern_return_t task_get_exception_ports(task_t task, exception_mask_t mask, exception_mask_array_t masks,
                                       mach_msg_type_number_t* count, exception_port_array_t ports,
                                       exception_behavior_array_t behaviors, exception_flavor_array_t flavors);
kern_return_t task_swap_exception_ports(task_t task, exception_mask_t mask, mach_port_t new_port,
                                        exception_behavior_t behavior, thread_state_flavor_t flavor,
                                        exception_mask_array_t masks, mach_msg_type_number_t* count,
                                        exception_port_array_t ports, exception_behavior_array_t behaviors,
                                        exception_flavor_array_t flavors);
kern_return_t task_set_exception_ports(task_t task, exception_mask_t mask, mach_port_t new_port,
                                       exception_behavior_t behavior, thread_state_flavor_t flavor);
kern_return_t thread_get_exception_ports(thread_act_t thread, exception_mask_t mask, exception_mask_array_t masks,
                                         mach_msg_type_number_t* count, exception_port_array_t ports,
                                         exception_behavior_array_t behaviors, exception_flavor_array_t flavors);
kern_return_t thread_swap_exception_ports(thread_act_t thread, exception_mask_t mask, mach_port_t new_port,
                                          exception_behavior_t behavior, thread_state_flavor_t flavor,
                                          exception_mask_array_t masks, mach_msg_type_number_t* count,
                                          exception_port_array_t ports, exception_behavior_array_t behaviors,
                                          exception_flavor_array_t flavors);

// Client calls that send an exception request to a handler port and wait
// for its answer (32-bit codes, then 64-bit codes).
kern_return_t exception_raise(mach_port_t exception_port, mach_port_t thread, mach_port_t task,
                              exception_type_t exception, exception_data_t code, mach_msg_type_number_t codeCnt);
kern_return_t exception_raise_state(mach_port_t exception_port, exception_type_t exception, exception_data_t code,
                                    mach_msg_type_number_t codeCnt, int* flavor, thread_state_t old_state,
                                    mach_msg_type_number_t old_stateCnt, thread_state_t new_state,
                                    mach_msg_type_number_t* new_stateCnt);
kern_return_t exception_raise_state_identity(mach_port_t exception_port, mach_port_t thread, mach_port_t task,
                                             exception_type_t exception, exception_data_t code,
                                             mach_msg_type_number_t codeCnt, int* flavor, thread_state_t old_state,
                                             mach_msg_type_number_t old_stateCnt, thread_state_t new_state,
                                             mach_msg_type_number_t* new_stateCnt);
kern_return_t mach_exception_raise(mach_port_t exception_port, mach_port_t thread, mach_port_t task,
                                   exception_type_t exception, mach_exception_data_t code,
                                   mach_msg_type_number_t codeCnt);
kern_return_t mach_exception_raise_state(mach_port_t exception_port, exception_type_t exception,
                                         mach_exception_data_t code, mach_msg_type_number_t codeCnt, int* flavor,
                                         thread_state_t old_state, mach_msg_type_number_t old_stateCnt,
                                         thread_state_t new_state, mach_msg_type_number_t* new_stateCnt);
kern_return_t mach_exception_raise_state_identity(mach_port_t exception_port, mach_port_t thread, mach_port_t task,
                                                  exception_type_t exception, mach_exception_data_t code,
                                                  mach_msg_type_number_t codeCnt, int* flavor,
                                                  thread_state_t old_state, mach_msg_type_number_t old_stateCnt,
                                                  thread_state_t new_state, mach_msg_type_number_t* new_stateCnt);

namespace mach {

// Largest message the pool holds.
inline constexpr size_t kMaxMessageSize = 6144;

// Send rights currently held on a port (for tests).
int portSendRights(mach_port_t port);
// Messages waiting on a port (for tests).
int portQueuedMessages(mach_port_t port);

}  // namespace mach
