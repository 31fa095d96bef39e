#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "platform/machcompat/Mach.h"

namespace {

class MachCompatSelfReads : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { mach::setForcePipeReads(GetParam()); }
    void TearDown() override { mach::setForcePipeReads(false); }
};

TEST_P(MachCompatSelfReads, CopiesReadableMemoryAndClassifiesFaults) {
    uint64_t value = 0x1122334455667788ull, out = 0;
    mach_vm_size_t n = 0;
    EXPECT_EQ(KERN_SUCCESS, mach_vm_read_overwrite(mach_task_self(), reinterpret_cast<uintptr_t>(&value), 8,
                                                   reinterpret_cast<uintptr_t>(&out), &n));
    EXPECT_EQ(value, out);
    EXPECT_EQ(8u, n);

    size_t page = vm_page_size;
    void* guard = mmap(nullptr, 2 * page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, guard);
    uint8_t* p = static_cast<uint8_t*>(guard);
    ASSERT_EQ(0, mprotect(p + page, page, PROT_NONE));
    EXPECT_EQ(KERN_PROTECTION_FAILURE, mach_vm_read_overwrite(mach_task_self(), reinterpret_cast<uintptr_t>(p + page),
                                                              8, reinterpret_cast<uintptr_t>(&out), nullptr));
    munmap(p, 2 * page);
    EXPECT_EQ(KERN_INVALID_ADDRESS, mach_vm_read_overwrite(mach_task_self(), reinterpret_cast<uintptr_t>(p), 8,
                                                           reinterpret_cast<uintptr_t>(&out), nullptr));
    EXPECT_FALSE(mach::readSelfMemory(8, &out, 8));
}

TEST_P(MachCompatSelfReads, PageCacheServesOneSessionFromWholePagesReadOnce) {
    ASSERT_TRUE(mach::reservePageCache(8));
    size_t page = vm_page_size;
    void* mapping = mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, mapping);
    uint8_t* p = static_cast<uint8_t*>(mapping);
    for (size_t i = 0; i < 2 * page; ++i) p[i] = static_cast<uint8_t>(i * 13 + 1);
    ASSERT_EQ(0, mprotect(p + 2 * page, page, PROT_NONE));
    uint8_t* kept = p + page - 8;
    uint8_t out[16], before = *kept;
    auto read = [&](const uint8_t* at, size_t n) {
        return mach_vm_read_overwrite(mach_task_self(), reinterpret_cast<uintptr_t>(at), n,
                                      reinterpret_cast<uintptr_t>(out), nullptr);
    };
    auto byteAt = [&](const uint8_t* at) { return read(at, 1) == KERN_SUCCESS ? out[0] : -1; };

    ASSERT_TRUE(mach::takePageCache());
    std::thread([] { EXPECT_FALSE(mach::takePageCache()); }).join();  // one session at a time
    ASSERT_EQ(KERN_SUCCESS, read(kept, 16));  // across two pages
    EXPECT_EQ(0, std::memcmp(kept, out, 16));
    // The unreadable page is never kept: every read that touches it fails.
    for (size_t at : {2 * page - 8, 2 * page, 2 * page - 8}) EXPECT_EQ(KERN_PROTECTION_FAILURE, read(p + at, 16)) << at;
    // What the session read stays as it was read, for it alone.
    *kept = 0xEE;
    EXPECT_EQ(before, byteAt(kept));
    std::thread([&] { EXPECT_EQ(0xEE, byteAt(kept)); }).join();
    mach::releasePageCache();
    // The next session reads afresh; one that starts inside it (a crash
    // while it writes) gets none of its copies.
    ASSERT_TRUE(mach::takePageCache());
    EXPECT_EQ(0xEE, byteAt(kept));
    *kept = 0xDD;
    EXPECT_FALSE(mach::takePageCache());
    EXPECT_EQ(0xDD, byteAt(kept));
    mach::releasePageCache();
    munmap(p, 3 * page);
}

INSTANTIATE_TEST_SUITE_P(Readers, MachCompatSelfReads, ::testing::Values(false, true));

TEST(MachCompatFakeTask, ReadsAcrossAdjacentRegionsAndRefusesGaps) {
    task_t task = mach::fakeTaskCreate();
    ASSERT_NE(MACH_PORT_NULL, task);
    std::vector<uint8_t> a(16, 0xAA), b(16, 0xBB);
    ASSERT_TRUE(mach::fakeTaskMap(task, 0x10000, a.data(), a.size()));
    ASSERT_TRUE(mach::fakeTaskMap(task, 0x10010, b.data(), b.size()));
    ASSERT_TRUE(mach::fakeTaskMap(task, 0x20000, a.data(), a.size(), VM_PROT_NONE));
    EXPECT_FALSE(mach::fakeTaskMap(task, 0x10008, a.data(), a.size()));  // overlaps

    uint8_t out[8] = {};
    ASSERT_EQ(KERN_SUCCESS, mach_vm_read_overwrite(task, 0x1000C, 8, reinterpret_cast<uintptr_t>(out), nullptr));
    EXPECT_EQ(0xAA, out[3]);
    EXPECT_EQ(0xBB, out[4]);
    EXPECT_EQ(KERN_INVALID_ADDRESS, mach_vm_read_overwrite(task, 0x1001C, 8, reinterpret_cast<uintptr_t>(out), nullptr));
    EXPECT_EQ(KERN_PROTECTION_FAILURE, mach_vm_read_overwrite(task, 0x20000, 4, reinterpret_cast<uintptr_t>(out), nullptr));

    EXPECT_EQ(KERN_SUCCESS, mach_port_mod_refs(mach_task_self(), task, MACH_PORT_RIGHT_SEND, 1));
    EXPECT_EQ(1, mach::fakeTaskExtraRights(task));
    EXPECT_EQ(KERN_SUCCESS, mach_port_deallocate(mach_task_self(), task));
    EXPECT_EQ(0, mach::fakeTaskExtraRights(task));
    mach::fakeTaskDestroy(task);
}

TEST(MachCompatMemoryEntries, ShortenToTheReadableRunAndMapCopies) {
    size_t page = vm_page_size;
    task_t task = mach::fakeTaskCreate();
    std::vector<uint8_t> bytes(page);
    for (size_t i = 0; i < page; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(mach::fakeTaskMap(task, 0x400000, bytes.data(), bytes.size()));

    memory_object_size_t size = 3 * page;
    mem_entry_name_port_t entry = MACH_PORT_NULL;
    ASSERT_EQ(KERN_SUCCESS, mach_make_memory_entry_64(task, &size, 0x400000, VM_PROT_READ, &entry, MACH_PORT_NULL));
    EXPECT_EQ(page, size);

    mach_vm_address_t local = 0;
    ASSERT_EQ(KERN_SUCCESS, mach_vm_allocate(mach_task_self(), &local, page, VM_FLAGS_ANYWHERE));
    ASSERT_EQ(KERN_SUCCESS, mach_vm_map(mach_task_self(), &local, page, 0, VM_FLAGS_FIXED | VM_FLAGS_OVERWRITE, entry,
                                        0, true, VM_PROT_READ, VM_PROT_READ, VM_INHERIT_COPY));
    EXPECT_EQ(0, std::memcmp(reinterpret_cast<void*>(local), bytes.data(), page));
    EXPECT_EQ(KERN_SUCCESS, mach_port_deallocate(mach_task_self(), entry));
    EXPECT_EQ(KERN_SUCCESS, mach_vm_deallocate(mach_task_self(), local, page));

    size = page;
    EXPECT_EQ(KERN_INVALID_ADDRESS,
              mach_make_memory_entry_64(task, &size, 0x800000, VM_PROT_READ, &entry, MACH_PORT_NULL));
    mach::fakeTaskDestroy(task);
}

TEST(MachCompatPorts, NullAndDeadNamesAcceptSendRightChanges) {
    EXPECT_EQ(KERN_SUCCESS, mach_port_mod_refs(mach_task_self(), MACH_PORT_NULL, MACH_PORT_RIGHT_SEND, -1));
    EXPECT_EQ(KERN_SUCCESS, mach_port_deallocate(mach_task_self(), MACH_PORT_DEAD));
    EXPECT_EQ(KERN_INVALID_NAME, mach_port_mod_refs(mach_task_self(), 0x7123, MACH_PORT_RIGHT_SEND, 1));
}

}  // namespace
