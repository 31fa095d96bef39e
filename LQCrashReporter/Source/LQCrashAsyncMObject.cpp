#include "LQCrashReporter/Source/LQCrashAsyncMObject.h"

namespace {

// An integer of the target's byte order at address + offset, in the host's.
template <typename T>
lqcrash_error_t readSwapped(lqcrash_async_mobject* mobj, T (*swap)(T), pl_vm_address_t address, pl_vm_off_t offset,
                           T* result) {
    const void* p = lqcrash_async_mobject_remap_address(mobj, address, offset, sizeof(T));
    if (!p) return LQCRASH_EINVAL;
    T v;
    lqcrash_async_memcpy(&v, p, sizeof(T));
    *result = swap(v);
    return LQCRASH_ESUCCESS;
}

}  // namespace

lqcrash_error_t lqcrash_async_mobject_init(lqcrash_async_mobject* mobj, task_t task, pl_vm_address_t task_addr,
                                           pl_vm_size_t length, bool require_full) {
    lqcrash_async_memset(mobj, 0, sizeof(*mobj));
    const pl_vm_address_t mask = vm_page_mask;
    pl_vm_address_t end;
    if (length == 0 || __builtin_add_overflow(task_addr, length, &end)) return LQCRASH_ENOMEM;
    pl_vm_address_t base = task_addr & ~mask;
    pl_vm_address_t endPage;
    if (__builtin_add_overflow(end, mask, &endPage)) return LQCRASH_ENOMEM;
    endPage &= ~mask;
    pl_vm_size_t total = endPage - base;

    if (!require_full) {
        pl_vm_size_t covered = 0;
        while (covered < total) {
            memory_object_size_t size = total - covered;
            mem_entry_name_port_t entry = MACH_PORT_NULL;
            if (mach_make_memory_entry_64(task, &size, base + covered, VM_PROT_READ, &entry, MACH_PORT_NULL) !=
                KERN_SUCCESS) {
                break;
            }
            mach_port_deallocate(mach_task_self(), entry);
            covered += size;
        }
        if (covered == 0) return LQCRASH_ENOMEM;
        total = covered;
    }

    mach_vm_address_t mapping = 0;
    if (mach_vm_allocate(mach_task_self(), &mapping, total, VM_FLAGS_ANYWHERE) != KERN_SUCCESS) return LQCRASH_EINTERNAL;

    pl_vm_size_t offset = 0;
    while (offset < total) {
        memory_object_size_t size = total - offset;
        mem_entry_name_port_t entry = MACH_PORT_NULL;
        if (mach_make_memory_entry_64(task, &size, base + offset, VM_PROT_READ, &entry, MACH_PORT_NULL) !=
            KERN_SUCCESS) {
            mach_vm_deallocate(mach_task_self(), mapping, total);
            return LQCRASH_ENOMEM;
        }
        mach_vm_address_t target = mapping + offset;
        kern_return_t kr = mach_vm_map(mach_task_self(), &target, size, 0, VM_FLAGS_FIXED | VM_FLAGS_OVERWRITE, entry,
                                       0, true, VM_PROT_READ, VM_PROT_READ, VM_INHERIT_COPY);
        mach_port_deallocate(mach_task_self(), entry);
        if (kr != KERN_SUCCESS) {
            mach_vm_deallocate(mach_task_self(), mapping, total);
            return LQCRASH_ENOMEM;
        }
        offset += size;
    }

    pl_vm_size_t pageOffset = task_addr - base;
    mobj->task = task;
    mobj->vm_address = static_cast<uintptr_t>(mapping);
    mobj->vm_length = total;
    mobj->address = static_cast<uintptr_t>(mapping + pageOffset);
    mobj->task_address = task_addr;
    mobj->length = total > pageOffset ? (length < total - pageOffset ? length : total - pageOffset) : 0;
    mobj->vm_slide = static_cast<pl_vm_off_t>(task_addr - mobj->address);
    mach_port_mod_refs(mach_task_self(), task, MACH_PORT_RIGHT_SEND, 1);
    return LQCRASH_ESUCCESS;
}

lqcrash_error_t lqcrash_async_mobject_init_copy(lqcrash_async_mobject* mobj, task_t task, pl_vm_address_t task_addr,
                                                pl_vm_size_t length, void* buffer, size_t buffer_size) {
    lqcrash_async_memset(mobj, 0, sizeof(*mobj));
    pl_vm_address_t end;
    if (length == 0 || length > buffer_size || __builtin_add_overflow(task_addr, length, &end)) return LQCRASH_ENOMEM;
    lqcrash_error_t err = DVlqcrash_async_task_memcpy(task, task_addr, 0, buffer, length);
    if (err != LQCRASH_ESUCCESS) return err;
    mobj->task = task;
    mobj->address = reinterpret_cast<uintptr_t>(buffer);
    mobj->task_address = task_addr;
    mobj->length = length;
    mobj->vm_slide = static_cast<pl_vm_off_t>(task_addr - mobj->address);
    return LQCRASH_ESUCCESS;
}

void* lqcrash_async_mobject_remap_address(lqcrash_async_mobject* mobj, pl_vm_address_t address, pl_vm_off_t offset,
                                          size_t length) {
    pl_vm_address_t target;
    if (!lqcrash_async_address_apply_offset(address, offset, &target)) return nullptr;
    pl_vm_address_t end;
    if (__builtin_add_overflow(target, static_cast<pl_vm_address_t>(length), &end)) return nullptr;
    if (target < mobj->task_address || end > mobj->task_address + mobj->length) return nullptr;
    return reinterpret_cast<void*>(static_cast<uintptr_t>(target - static_cast<pl_vm_address_t>(mobj->vm_slide)));
}

bool lqcrash_async_mobject_verify_local_pointer(lqcrash_async_mobject* mobj, uintptr_t local, pl_vm_off_t offset,
                                                size_t length) {
    pl_vm_address_t target;
    if (!lqcrash_async_address_apply_offset(local, offset, &target)) return false;
    pl_vm_address_t end;
    if (__builtin_add_overflow(target, static_cast<pl_vm_address_t>(length), &end)) return false;
    return target >= mobj->address && end <= mobj->address + mobj->length;
}

lqcrash_error_t lqcrash_async_mobject_read_uint8(lqcrash_async_mobject* mobj, pl_vm_address_t address,
                                                 pl_vm_off_t offset, uint8_t* result) {
    const uint8_t* p = static_cast<const uint8_t*>(lqcrash_async_mobject_remap_address(mobj, address, offset, 1));
    if (!p) return LQCRASH_EINVAL;
    *result = *p;
    return LQCRASH_ESUCCESS;
}

lqcrash_error_t lqcrash_async_mobject_read_uint16(lqcrash_async_mobject* mobj,
                                                  const lqcrash_async_byteorder_t* byteorder,
                                                  pl_vm_address_t address, pl_vm_off_t offset, uint16_t* result) {
    return readSwapped(mobj, byteorder->swap16, address, offset, result);
}

lqcrash_error_t lqcrash_async_mobject_read_uint32(lqcrash_async_mobject* mobj,
                                                  const lqcrash_async_byteorder_t* byteorder,
                                                  pl_vm_address_t address, pl_vm_off_t offset, uint32_t* result) {
    return readSwapped(mobj, byteorder->swap32, address, offset, result);
}

lqcrash_error_t lqcrash_async_mobject_read_uint64(lqcrash_async_mobject* mobj,
                                                  const lqcrash_async_byteorder_t* byteorder,
                                                  pl_vm_address_t address, pl_vm_off_t offset, uint64_t* result) {
    return readSwapped(mobj, byteorder->swap64, address, offset, result);
}

pl_vm_address_t lqcrash_async_mobject_base_address(lqcrash_async_mobject* mobj) { return mobj->task_address; }
pl_vm_size_t lqcrash_async_mobject_length(lqcrash_async_mobject* mobj) { return mobj->length; }
task_t lqcrash_async_mobject_task(lqcrash_async_mobject* mobj) { return mobj->task; }

void lqcrash_async_mobject_free(lqcrash_async_mobject* mobj) {
    if (mobj->vm_address != 0) {
        mach_vm_deallocate(mach_task_self(), mobj->vm_address, mobj->vm_length);
        mach_port_mod_refs(mach_task_self(), mobj->task, MACH_PORT_RIGHT_SEND, -1);
    }
    mobj->vm_address = 0;
    mobj->vm_length = 0;
}
