#include "LQCrashReporter/Source/LQCrashAsyncImageList.h"

#include <cstdlib>

using ImageNode = lqcrash::DV::async::async_list<lqcrash_async_macho*>::node;

void lqcrash_image_list_init(lqcrash_async_image_list* list, task_t task) {
    list->task = task;
    mach_port_mod_refs(mach_task_self(), task, MACH_PORT_RIGHT_SEND, 1);
}

void lqcrash_image_list_free(lqcrash_async_image_list* list) {
    for (ImageNode* n = list->list.next(nullptr); n; n = n->next()) {
        lqcrash_async_macho_free(n->value());
        std::free(n->value());
    }
    list->list.free_all();
    mach_port_mod_refs(mach_task_self(), list->task, MACH_PORT_RIGHT_SEND, -1);
}

lqcrash_error_t lqcrash_async_image_list_append(lqcrash_async_image_list* list, pl_vm_address_t header,
                                                const char* name) {
    auto* image = static_cast<lqcrash_async_macho*>(std::calloc(1, sizeof(lqcrash_async_macho)));
    if (!image) return LQCRASH_ENOMEM;
    lqcrash_error_t err = lqcrash_async_macho_init(image, list->task, name, header);
    if (err != LQCRASH_ESUCCESS) {
        std::free(image);
        return err;
    }
    list->list.nasync_append(image);
    return LQCRASH_ESUCCESS;
}

void lqcrash_async_image_list_remove(lqcrash_async_image_list* list, pl_vm_address_t header) {
    list->list.set_reading(true);
    ImageNode* found = nullptr;
    for (ImageNode* n = list->list.next(nullptr); n; n = n->next()) {
        if (n->value()->header_addr == header) {
            found = n;
            break;
        }
    }
    list->list.set_reading(false);
    // The record stays allocated: a crash-time reader may still hold it.
    if (found) list->list.nasync_remove_node(found);
}

void lqcrash_async_image_list_set_reading(lqcrash_async_image_list* list, bool enable) {
    list->list.set_reading(enable);
}

lqcrash_async_macho* lqcrash_image_list_image_for_address(lqcrash_async_image_list* list, pl_vm_address_t address) {
    for (ImageNode* n = list->list.next(nullptr); n; n = n->next()) {
        if (lqcrash_async_macho_contains_address(n->value(), address)) return n->value();
    }
    return nullptr;
}

lqcrash_async_macho* lqcrash_async_image_list_next(lqcrash_async_image_list* list, lqcrash_async_macho* current) {
    ImageNode* n = list->list.next(current ? static_cast<ImageNode*>(current->list_node) : nullptr);
    if (!n) return nullptr;
    n->value()->list_node = n;
    return n->value();
}
