#pragma once
// Symbol lookup for a pc by strategy: the image's symbol table and/or the
// object runtime's class metadata (method implementations named
// "-[Class method]" / "+[Class method]"). Async-signal-safe.

#include "LQCrashReporter/Source/LQCrashAsyncMachO.h"

enum : uint32_t {
    LQCRASH_ASYNC_SYMBOL_STRATEGY_NONE = 0,
    LQCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE = 1 << 0,
    LQCRASH_ASYNC_SYMBOL_STRATEGY_OBJC = 1 << 1,
    LQCRASH_ASYNC_SYMBOL_STRATEGY_ALL = 3,
};
typedef uint32_t lqcrash_async_symbol_strategy_t;

struct lqcrash_async_objc_cache {
    bool gotObjC2Info;
    lqcrash_async_macho* lastImage;
    lqcrash_async_mobject objcConstMobj;
    bool objcConstMobjInitialized;
    lqcrash_async_mobject objcConstAxMobj;
    bool objcConstAxMobjInitialized;
    lqcrash_async_mobject classMobj;
    bool classMobjInitialized;
    lqcrash_async_mobject catMobj;
    bool catMobjInitialized;
    lqcrash_async_mobject objcDataMobj;
    bool objcDataMobjInitialized;
    lqcrash_async_mobject dataMobj;
    bool dataMobjInitialized;
    size_t classCacheSize;
    size_t classCacheByteCount;
    pl_vm_address_t* classCacheKeys;
    pl_vm_address_t* classCacheValues;
};

lqcrash_error_t lqcrash_async_objc_cache_init(lqcrash_async_objc_cache* cache);
void lqcrash_async_objc_cache_free(lqcrash_async_objc_cache* cache);

typedef void (*lqcrash_async_objc_found_method_cb)(bool isClassMethod, lqcrash_async_macho_string* className,
                                                   lqcrash_async_macho_string* methodName, pl_vm_address_t imp,
                                                   void* ctx);
lqcrash_error_t lqcrash_async_objc_find_method(lqcrash_async_macho* image, lqcrash_async_objc_cache* cache,
                                               pl_vm_address_t pc, lqcrash_async_objc_found_method_cb callback,
                                               void* ctx);

lqcrash_error_t lqcrash_async_find_symbol(lqcrash_async_macho* image, lqcrash_async_symbol_strategy_t strategy,
                                          lqcrash_async_objc_cache* cache, pl_vm_address_t pc,
                                          lqcrash_async_found_symbol_cb callback, void* ctx);
