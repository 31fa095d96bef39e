#include "LQCrashReporter/Source/LQCrashAsyncSymbolication.h"

namespace {

constexpr size_t kClassCacheSize = 1024;

struct WalkContext;
typedef lqcrash_error_t (*MethodVisitor)(bool isClassMethod, lqcrash_async_macho_string* className,
                                         lqcrash_async_macho_string* methodName, pl_vm_address_t imp,
                                         WalkContext* walk);

struct WalkContext {
    lqcrash_async_macho* image;
    lqcrash_async_objc_cache* cache;
    MethodVisitor visit;
    pl_vm_address_t pc;
    pl_vm_address_t best;
    bool found;
    lqcrash_async_objc_found_method_cb client;
    void* clientContext;
};

size_t ptr_size(lqcrash_async_macho* image) { return image->m64 ? 8 : 4; }

pl_vm_address_t load_ptr(lqcrash_async_macho* image, const void* local) {
    if (image->m64) {
        uint64_t v;
        lqcrash_async_memcpy(&v, local, 8);
        return image->byteorder->swap64(v);
    }
    uint32_t v;
    lqcrash_async_memcpy(&v, local, 4);
    return image->byteorder->swap32(v);
}

uint32_t load_u32(lqcrash_async_macho* image, const void* local) {
    uint32_t v;
    lqcrash_async_memcpy(&v, local, 4);
    return image->byteorder->swap32(v);
}

void free_mappings(lqcrash_async_objc_cache* cache) {
    lqcrash_async_mobject* mobjs[] = {&cache->objcConstMobj, &cache->objcConstAxMobj, &cache->classMobj,
                                      &cache->catMobj,       &cache->objcDataMobj,    &cache->dataMobj};
    bool* flags[] = {&cache->objcConstMobjInitialized, &cache->objcConstAxMobjInitialized,
                     &cache->classMobjInitialized,     &cache->catMobjInitialized,
                     &cache->objcDataMobjInitialized,  &cache->dataMobjInitialized};
    for (size_t i = 0; i < 6; ++i) {
        if (*flags[i]) lqcrash_async_mobject_free(mobjs[i]);
        *flags[i] = false;
    }
    cache->lastImage = nullptr;
}

// Looks the section up in __DATA, then __DATA_CONST, then __DATA_DIRTY.
lqcrash_error_t map_data_section(lqcrash_async_macho* image, const char* sectname, lqcrash_async_mobject* mobj) {
    static const char* const segments[] = {"__DATA", "__DATA_CONST", "__DATA_DIRTY"};
    lqcrash_error_t err = LQCRASH_ENOTFOUND;
    for (const char* seg : segments) {
        err = lqcrash_async_macho_map_section(image, seg, sectname, mobj);
        if (err != LQCRASH_ENOTFOUND) return err;
    }
    return err;
}

lqcrash_error_t map_sections(lqcrash_async_macho* image, lqcrash_async_objc_cache* cache) {
    if (cache->lastImage == image) return LQCRASH_ESUCCESS;
    free_mappings(cache);
    lqcrash_error_t err = map_data_section(image, "__objc_const", &cache->objcConstMobj);
    if (err != LQCRASH_ESUCCESS) return err;
    cache->objcConstMobjInitialized = true;
    err = map_data_section(image, "__objc_classlist", &cache->classMobj);
    if (err != LQCRASH_ESUCCESS) return err;
    cache->classMobjInitialized = true;
    err = map_data_section(image, "__objc_catlist", &cache->catMobj);
    if (err != LQCRASH_ESUCCESS) return err;
    cache->catMobjInitialized = true;
    err = lqcrash_async_macho_map_section(image, "__DATA", "__objc_data", &cache->objcDataMobj);
    if (err != LQCRASH_ESUCCESS) return err;
    cache->objcDataMobjInitialized = true;
    cache->objcConstAxMobjInitialized =
        lqcrash_async_macho_map_section(image, "__DATA", "__objc_const_ax", &cache->objcConstAxMobj) ==
        LQCRASH_ESUCCESS;
    cache->dataMobjInitialized =
        lqcrash_async_macho_map_section(image, "__DATA", "__data", &cache->dataMobj) == LQCRASH_ESUCCESS;
    cache->lastImage = image;
    return LQCRASH_ESUCCESS;
}

const void* remap_in(lqcrash_async_mobject* mobj, bool initialized, pl_vm_address_t address, size_t length) {
    return initialized ? lqcrash_async_mobject_remap_address(mobj, address, 0, length) : nullptr;
}

lqcrash_error_t walk_method_list(WalkContext* walk, pl_vm_address_t list, bool isClassMethod,
                                 lqcrash_async_macho_string* className) {
    lqcrash_async_macho* image = walk->image;
    lqcrash_async_objc_cache* cache = walk->cache;
    lqcrash_async_mobject* mobj = &cache->objcConstMobj;
    const uint8_t* header = static_cast<const uint8_t*>(remap_in(mobj, cache->objcConstMobjInitialized, list, 8));
    if (!header) {
        mobj = &cache->objcConstAxMobj;
        header = static_cast<const uint8_t*>(remap_in(mobj, cache->objcConstAxMobjInitialized, list, 8));
    }
    if (!header) return LQCRASH_EINVALID_DATA;
    uint32_t entsize = load_u32(image, header) & ~3u;
    uint32_t count = load_u32(image, header + 4);
    size_t impOffset = image->m64 ? 16 : 8;
    if (entsize < impOffset + ptr_size(image)) return LQCRASH_EINVALID_DATA;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = static_cast<const uint8_t*>(
            lqcrash_async_mobject_remap_address(mobj, list, 8 + static_cast<pl_vm_off_t>(i) * entsize, entsize));
        if (!entry) return LQCRASH_EINVALID_DATA;
        pl_vm_address_t namePtr = load_ptr(image, entry);
        pl_vm_address_t imp = load_ptr(image, entry + impOffset);
        lqcrash_async_macho_string methodName;
        lqcrash_async_macho_string_init(&methodName, image, namePtr);
        lqcrash_error_t err = walk->visit(isClassMethod, className, &methodName, imp, walk);
        lqcrash_async_macho_string_free(&methodName);
        if (err != LQCRASH_ESUCCESS) return err;
    }
    return LQCRASH_ESUCCESS;
}

// The class record (40 or 20 bytes) at cls, from __objc_data, __data or the task.
lqcrash_error_t read_class(WalkContext* walk, pl_vm_address_t cls, uint8_t* out, bool allowTask) {
    lqcrash_async_objc_cache* cache = walk->cache;
    size_t size = walk->image->m64 ? 40 : 20;
    const void* p = remap_in(&cache->objcDataMobj, cache->objcDataMobjInitialized, cls, size);
    if (!p) p = remap_in(&cache->dataMobj, cache->dataMobjInitialized, cls, size);
    if (p) {
        lqcrash_async_memcpy(out, p, size);
        return LQCRASH_ESUCCESS;
    }
    if (!allowTask) return LQCRASH_EINVALID_DATA;
    return DVlqcrash_async_task_memcpy(walk->image->task, cls, 0, out, size);
}

// Resolves a class record's read-only data; *skip when the class is not realized.
lqcrash_error_t class_ro(WalkContext* walk, const uint8_t* classRecord, uint8_t* ro, bool* skip) {
    lqcrash_async_macho* image = walk->image;
    lqcrash_async_objc_cache* cache = walk->cache;
    *skip = false;
    pl_vm_address_t data = load_ptr(image, classRecord + (image->m64 ? 32 : 16));
    data &= image->m64 ? 0x7FFFFFFFFFF8ull : ~static_cast<pl_vm_address_t>(7);
    size_t slot = static_cast<size_t>((data >> 2) % kClassCacheSize);
    pl_vm_address_t roPtr = 0;
    bool copied = false;
    if (cache->classCacheKeys && cache->classCacheKeys[slot] == data && data != 0) {
        roPtr = cache->classCacheValues[slot] & ~static_cast<pl_vm_address_t>(2);
        copied = (cache->classCacheValues[slot] & 2) != 0;
    } else {
        uint8_t rw[16];
        size_t rwSize = image->m64 ? 16 : 12;
        lqcrash_error_t err = DVlqcrash_async_task_memcpy(image->task, data, 0, rw, rwSize);
        if (err != LQCRASH_ESUCCESS) return err;
        uint32_t flags = load_u32(image, rw);
        if (!(flags & 0x80000000u)) {
            *skip = true;
            return LQCRASH_ESUCCESS;
        }
        copied = (flags & (1u << 27)) != 0;
        roPtr = load_ptr(image, rw + (image->m64 ? 8 : 4));
        if (roPtr & 1) {
            uint8_t ext[8];
            err = DVlqcrash_async_task_memcpy(image->task, roPtr & ~static_cast<pl_vm_address_t>(1), 0, ext,
                                              ptr_size(image));
            if (err != LQCRASH_ESUCCESS) return err;
            roPtr = load_ptr(image, ext);
        }
        if (cache->classCacheKeys && cache->classCacheKeys[slot] == 0 && data != 0) {
            cache->classCacheKeys[slot] = data;
            cache->classCacheValues[slot] = roPtr | (copied ? 2 : 0);
        }
    }
    size_t roSize = image->m64 ? 72 : 40;
    const void* p = nullptr;
    if (!copied && roPtr >= image->header_addr) {
        p = remap_in(&cache->objcConstMobj, cache->objcConstMobjInitialized, roPtr, roSize);
        if (!p) return LQCRASH_EINVALID_DATA;
        lqcrash_async_memcpy(ro, p, roSize);
        return LQCRASH_ESUCCESS;
    }
    return DVlqcrash_async_task_memcpy(image->task, roPtr, 0, ro, roSize);
}

lqcrash_error_t walk_class(WalkContext* walk, pl_vm_address_t cls, bool isMeta) {
    lqcrash_async_macho* image = walk->image;
    uint8_t record[40];
    lqcrash_error_t err = read_class(walk, cls, record, false);
    if (err != LQCRASH_ESUCCESS) return err;
    uint8_t ro[72];
    bool skip = false;
    err = class_ro(walk, record, ro, &skip);
    if (err != LQCRASH_ESUCCESS || skip) return err;
    pl_vm_address_t namePtr = load_ptr(image, ro + (image->m64 ? 24 : 16));
    pl_vm_address_t methods = load_ptr(image, ro + (image->m64 ? 32 : 20));
    lqcrash_async_macho_string className;
    lqcrash_async_macho_string_init(&className, image, namePtr);
    if (methods != 0) err = walk_method_list(walk, methods, isMeta, &className);
    lqcrash_async_macho_string_free(&className);
    if (err != LQCRASH_ESUCCESS || isMeta) return err;
    pl_vm_address_t isa = load_ptr(image, record);
    if (image->m64 && (isa & 1)) isa &= 0xFFFFFFFF8ull;
    return walk_class(walk, isa, true);
}

lqcrash_error_t walk_category(WalkContext* walk, pl_vm_address_t category) {
    lqcrash_async_macho* image = walk->image;
    lqcrash_async_objc_cache* cache = walk->cache;
    size_t size = image->m64 ? 48 : 24;
    const uint8_t* cat = static_cast<const uint8_t*>(
        remap_in(&cache->objcConstMobj, cache->objcConstMobjInitialized, category, size));
    if (!cat) return LQCRASH_EINVALID_DATA;
    size_t w = ptr_size(image);
    pl_vm_address_t cls = load_ptr(image, cat + w);
    pl_vm_address_t instanceMethods = load_ptr(image, cat + 2 * w);
    pl_vm_address_t classMethods = load_ptr(image, cat + 3 * w);
    uint8_t record[40];
    lqcrash_error_t err = read_class(walk, cls, record, true);
    if (err != LQCRASH_ESUCCESS) return err;
    uint8_t ro[72];
    bool skip = false;
    err = class_ro(walk, record, ro, &skip);
    if (err != LQCRASH_ESUCCESS) return err;
    if (skip) return LQCRASH_ENOTFOUND;
    lqcrash_async_macho_string className;
    lqcrash_async_macho_string_init(&className, image, load_ptr(image, ro + (image->m64 ? 24 : 16)));
    if (instanceMethods != 0) err = walk_method_list(walk, instanceMethods, false, &className);
    if (err == LQCRASH_ESUCCESS && classMethods != 0) err = walk_method_list(walk, classMethods, true, &className);
    lqcrash_async_macho_string_free(&className);
    return err;
}

// The legacy metadata of 32-bit images (__OBJC,__module_info).
lqcrash_error_t walk_legacy_method_lists(WalkContext* walk, const uint8_t* classRecord, bool isMeta,
                                         lqcrash_async_macho_string* className) {
    lqcrash_async_macho* image = walk->image;
    uint32_t info = load_u32(image, classRecord + 16);
    pl_vm_address_t lists = load_u32(image, classRecord + 28);
    auto walkList = [&](pl_vm_address_t list) -> lqcrash_error_t {
        uint32_t count;
        lqcrash_error_t err = lqcrash_async_task_read_uint32(image->task, image->byteorder, list, 4, &count);
        if (err != LQCRASH_ESUCCESS) return err;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t method[3];
            err = DVlqcrash_async_task_memcpy(image->task, list, 8 + static_cast<pl_vm_off_t>(i) * 12, method, 12);
            if (err != LQCRASH_ESUCCESS) return err;
            lqcrash_async_macho_string name;
            lqcrash_async_macho_string_init(&name, image, image->byteorder->swap32(method[0]));
            err = walk->visit(isMeta, className, &name, image->byteorder->swap32(method[2]), walk);
            lqcrash_async_macho_string_free(&name);
            if (err != LQCRASH_ESUCCESS) return err;
        }
        return LQCRASH_ESUCCESS;
    };
    if (lists == 0) return LQCRASH_ESUCCESS;
    if (info & 0x4000) return walkList(lists);
    for (pl_vm_off_t i = 0;; i += 4) {
        uint32_t list;
        lqcrash_error_t err = lqcrash_async_task_read_uint32(image->task, image->byteorder, lists, i, &list);
        if (err != LQCRASH_ESUCCESS) return err;
        if (list == 0 || list == 0xFFFFFFFFu) return LQCRASH_ESUCCESS;
        err = walkList(list);
        if (err != LQCRASH_ESUCCESS) return err;
    }
}

lqcrash_error_t walk_legacy(WalkContext* walk) {
    lqcrash_async_macho* image = walk->image;
    lqcrash_async_mobject modules;
    lqcrash_error_t err = lqcrash_async_macho_map_section(image, "__OBJC", "__module_info", &modules);
    if (err != LQCRASH_ESUCCESS) return err;
    for (pl_vm_size_t at = 0; at + 16 <= modules.length && err == LQCRASH_ESUCCESS; at += 16) {
        const uint8_t* module = static_cast<const uint8_t*>(
            lqcrash_async_mobject_remap_address(&modules, modules.task_address, static_cast<pl_vm_off_t>(at), 16));
        if (!module) break;
        pl_vm_address_t symtab = load_u32(image, module + 12);
        if (symtab == 0) continue;
        uint8_t st[12];
        err = DVlqcrash_async_task_memcpy(image->task, symtab, 0, st, sizeof(st));
        if (err != LQCRASH_ESUCCESS) break;
        uint16_t classCount;
        lqcrash_async_memcpy(&classCount, st + 8, 2);
        classCount = image->byteorder->swap16(classCount);
        for (uint16_t i = 0; i < classCount && err == LQCRASH_ESUCCESS; ++i) {
            uint32_t cls;
            err = lqcrash_async_task_read_uint32(image->task, image->byteorder, symtab, 12 + 4 * i, &cls);
            if (err != LQCRASH_ESUCCESS) break;
            uint8_t record[40];
            err = DVlqcrash_async_task_memcpy(image->task, cls, 0, record, sizeof(record));
            if (err != LQCRASH_ESUCCESS) break;
            lqcrash_async_macho_string name;
            lqcrash_async_macho_string_init(&name, image, load_u32(image, record + 8));
            err = walk_legacy_method_lists(walk, record, false, &name);
            if (err == LQCRASH_ESUCCESS) {
                pl_vm_address_t isa = load_u32(image, record);
                if (isa & 1) isa &= ~static_cast<pl_vm_address_t>(7);
                uint8_t meta[40];
                err = DVlqcrash_async_task_memcpy(image->task, isa, 0, meta, sizeof(meta));
                if (err == LQCRASH_ESUCCESS) err = walk_legacy_method_lists(walk, meta, true, &name);
            }
            lqcrash_async_macho_string_free(&name);
        }
    }
    lqcrash_async_mobject_free(&modules);
    return err;
}

lqcrash_error_t walk_all(WalkContext* walk) {
    lqcrash_async_macho* image = walk->image;
    lqcrash_async_objc_cache* cache = walk->cache;
    if (!cache->gotObjC2Info) {
        lqcrash_error_t err = walk_legacy(walk);
        if (err != LQCRASH_ENOTFOUND) return err;
    }
    lqcrash_error_t err = map_sections(image, cache);
    if (err != LQCRASH_ESUCCESS) return err;
    if (!cache->classMobjInitialized) return LQCRASH_EINVALID_DATA;
    size_t w = ptr_size(image);
    pl_vm_size_t classCount = cache->classMobj.length / w;
    for (pl_vm_size_t i = 0; i < classCount; ++i) {
        const void* p = lqcrash_async_mobject_remap_address(&cache->classMobj, cache->classMobj.task_address,
                                                            static_cast<pl_vm_off_t>(i * w), w);
        if (!p) return LQCRASH_EINVALID_DATA;
        err = walk_class(walk, load_ptr(image, p), false);
        if (err != LQCRASH_ESUCCESS) return err;
    }
    pl_vm_size_t catCount = cache->catMobj.length / w;
    for (pl_vm_size_t i = 0; i < catCount; ++i) {
        const void* p = lqcrash_async_mobject_remap_address(&cache->catMobj, cache->catMobj.task_address,
                                                            static_cast<pl_vm_off_t>(i * w), w);
        if (!p) return LQCRASH_EINVALID_DATA;
        err = walk_category(walk, load_ptr(image, p));
        if (err == LQCRASH_ENOTFOUND) continue;
        if (err != LQCRASH_ESUCCESS) return err;
    }
    cache->gotObjC2Info = true;
    return LQCRASH_ESUCCESS;
}

lqcrash_error_t find_best(bool, lqcrash_async_macho_string*, lqcrash_async_macho_string*, pl_vm_address_t imp,
                          WalkContext* walk) {
    if (imp <= walk->pc && (!walk->found || imp > walk->best)) {
        walk->best = imp;
        walk->found = true;
    }
    return LQCRASH_ESUCCESS;
}

lqcrash_error_t report_best(bool isClassMethod, lqcrash_async_macho_string* className,
                            lqcrash_async_macho_string* methodName, pl_vm_address_t imp, WalkContext* walk) {
    if (imp == walk->best && walk->client) {
        walk->client(isClassMethod, className, methodName, imp, walk->clientContext);
        walk->client = nullptr;  // once
    }
    return LQCRASH_ESUCCESS;
}

// The result buffer of lqcrash_async_find_symbol.
struct SymbolResult {
    char name[256];
    bool found;
    pl_vm_address_t start;
};

size_t append(char* buffer, size_t at, const char* text, size_t length) {
    for (size_t i = 0; i < length && at < 255; ++i) buffer[at++] = text[i];
    buffer[at] = '\0';
    return at;
}

void symtab_candidate(pl_vm_address_t address, const char* name, void* ctx) {
    SymbolResult* result = static_cast<SymbolResult*>(ctx);
    if (result->found && address < result->start) return;
    result->found = true;
    result->start = address;
    append(result->name, 0, name, lqcrash_async_strlen(name));
}

void objc_candidate(bool isClassMethod, lqcrash_async_macho_string* className, lqcrash_async_macho_string* methodName,
                    pl_vm_address_t imp, void* ctx) {
    SymbolResult* result = static_cast<SymbolResult*>(ctx);
    if (result->found && imp < result->start) return;
    const char* cls = nullptr;
    const char* sel = nullptr;
    pl_vm_size_t clsLength = 0, selLength = 0;
    if (lqcrash_async_macho_string_get_length(className, &clsLength) != LQCRASH_ESUCCESS ||
        lqcrash_async_macho_string_get_pointer(className, &cls) != LQCRASH_ESUCCESS ||
        lqcrash_async_macho_string_get_length(methodName, &selLength) != LQCRASH_ESUCCESS ||
        lqcrash_async_macho_string_get_pointer(methodName, &sel) != LQCRASH_ESUCCESS) {
        return;
    }
    result->found = true;
    result->start = imp;
    size_t at = append(result->name, 0, isClassMethod ? "+[" : "-[", 2);
    at = append(result->name, at, cls, static_cast<size_t>(clsLength));
    at = append(result->name, at, " ", 1);
    at = append(result->name, at, sel, static_cast<size_t>(selLength));
    append(result->name, at, "]", 1);
}

}  // namespace

lqcrash_error_t lqcrash_async_objc_cache_init(lqcrash_async_objc_cache* cache) {
    lqcrash_async_memset(cache, 0, sizeof(*cache));
    return LQCRASH_ESUCCESS;
}

void lqcrash_async_objc_cache_free(lqcrash_async_objc_cache* cache) {
    free_mappings(cache);
    if (cache->classCacheKeys) {
        mach_vm_deallocate(mach_task_self(), reinterpret_cast<uintptr_t>(cache->classCacheKeys),
                           cache->classCacheByteCount);
        mach_vm_deallocate(mach_task_self(), reinterpret_cast<uintptr_t>(cache->classCacheValues),
                           cache->classCacheByteCount);
    }
    cache->classCacheKeys = nullptr;
    cache->classCacheValues = nullptr;
}

lqcrash_error_t lqcrash_async_objc_find_method(lqcrash_async_macho* image, lqcrash_async_objc_cache* cache,
                                               pl_vm_address_t pc, lqcrash_async_objc_found_method_cb callback,
                                               void* ctx) {
    if (!cache->classCacheKeys) {
        size_t bytes = kClassCacheSize * sizeof(pl_vm_address_t);
        mach_vm_address_t keys = 0, values = 0;
        if (mach_vm_allocate(mach_task_self(), &keys, bytes, VM_FLAGS_ANYWHERE) == KERN_SUCCESS &&
            mach_vm_allocate(mach_task_self(), &values, bytes, VM_FLAGS_ANYWHERE) == KERN_SUCCESS) {
            cache->classCacheKeys = reinterpret_cast<pl_vm_address_t*>(keys);
            cache->classCacheValues = reinterpret_cast<pl_vm_address_t*>(values);
            cache->classCacheSize = kClassCacheSize;
            cache->classCacheByteCount = bytes;
        } else if (keys) {
            mach_vm_deallocate(mach_task_self(), keys, bytes);
        }
    }
    WalkContext walk{image, cache, find_best, pc, 0, false, callback, ctx};
    lqcrash_error_t err = walk_all(&walk);
    if (err != LQCRASH_ESUCCESS) return err;
    if (!walk.found) return LQCRASH_ENOTFOUND;
    walk.visit = report_best;
    return walk_all(&walk);
}

lqcrash_error_t lqcrash_async_find_symbol(lqcrash_async_macho* image, lqcrash_async_symbol_strategy_t strategy,
                                          lqcrash_async_objc_cache* cache, pl_vm_address_t pc,
                                          lqcrash_async_found_symbol_cb callback, void* ctx) {
    SymbolResult result;
    result.name[0] = '\0';
    result.found = false;
    result.start = 0;
    bool succeeded = false;
    if (strategy & LQCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE) {
        succeeded |= lqcrash_async_macho_find_symbol_by_pc(image, pc, symtab_candidate, &result) == LQCRASH_ESUCCESS;
    }
    if ((strategy & LQCRASH_ASYNC_SYMBOL_STRATEGY_OBJC) && !image->is_elf) {
        succeeded |= lqcrash_async_objc_find_method(image, cache, pc, objc_candidate, &result) == LQCRASH_ESUCCESS;
    }
    if (!succeeded) return LQCRASH_ENOTFOUND;
    if (!result.found) return LQCRASH_EINTERNAL;
    callback(result.start, result.name, ctx);
    return LQCRASH_ESUCCESS;
}
