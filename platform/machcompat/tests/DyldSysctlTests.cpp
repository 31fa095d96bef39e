#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/machcompat/Dyld.h"
#include "platform/machcompat/Elf.h"
#include "platform/machcompat/NSException.h"
#include "platform/machcompat/Sysctl.h"

namespace {

std::vector<const mach_header*> g_added;
void onAdd(const mach_header* header, intptr_t) { g_added.push_back(header); }

TEST(MachCompatDyld, ListsTheExecutableFirstAndAnnouncesRegisteredImages) {
    ASSERT_GT(_dyld_image_count(), 1u);
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    EXPECT_STREQ(exe, _dyld_get_image_name(0));
    const mach_header* header = _dyld_get_image_header(0);
    EXPECT_EQ(0, std::memcmp(header, mach::elf::kMagic, 4));
    EXPECT_STREQ(exe, mach::dyldImagePath(header));

    g_added.clear();
    _dyld_register_func_for_add_image(onAdd);
    size_t initial = g_added.size();
    EXPECT_GT(initial, 1u);
    static const mach_header_64 fake = {MH_MAGIC_64, CPU_TYPE_ARM64, 0, 6, 0, 0, 0, 0};
    mach::dyldAddImage(&fake, 0x1000, "/tmp/fake.dylib");
    ASSERT_EQ(initial + 1, g_added.size());
    EXPECT_STREQ("/tmp/fake.dylib", mach::dyldImagePath(&fake));
    mach::dyldRemoveImage(&fake);
    EXPECT_EQ(nullptr, mach::dyldImagePath(&fake));
    mach::dyldResetCallbacksForTesting();
}

TEST(MachCompatElf, TheExecutableHasTextEhFrameAndABuildId) {
    mach::elf::ImageInfo info;
    ASSERT_EQ(KERN_SUCCESS, mach::elf::readImageInfo(mach_task_self(),
                                                     reinterpret_cast<uintptr_t>(_dyld_get_image_header(0)), &info));
    EXPECT_TRUE(info.is64);
    EXPECT_NE(0, info.cpuType);
    EXPECT_GT(info.textSize, 0u);
    EXPECT_NE(0u, info.ehFrameAddress);
    EXPECT_GT(info.buildIdLength, 0u);

    // Its .eh_frame index names, for functions of this program, the FDEs
    // that cover them; nothing lies below the first entry.
    ASSERT_GT(info.ehFrameIndexCount, 0u);
    const uint64_t pcs[] = {reinterpret_cast<uintptr_t>(&onAdd) + 1,
                            reinterpret_cast<uintptr_t>(&mach::elf::readImageInfo) + 1,
                            reinterpret_cast<uintptr_t>(&mach::elf::findIndexedFde) + 1};
    for (uint64_t pc : pcs) {
        uint64_t fde = 0;
        ASSERT_EQ(KERN_SUCCESS, mach::elf::findIndexedFde(mach_task_self(), info, pc, &fde));
        int32_t begin;   // pc-relative, 4 bytes, as the compilers here write it
        uint32_t range;
        std::memcpy(&begin, reinterpret_cast<const void*>(fde + 8), 4);
        std::memcpy(&range, reinterpret_cast<const void*>(fde + 12), 4);
        const uint64_t start = fde + 8 + static_cast<uint64_t>(static_cast<int64_t>(begin));
        EXPECT_LE(start, pc);
        EXPECT_LT(pc, start + range);
    }
    uint64_t fde = 0;
    EXPECT_EQ(KERN_FAILURE, mach::elf::findIndexedFde(mach_task_self(), info, 0, &fde));
}

TEST(MachCompatSysctl, AnswersStringsIntegersAndProcessRecords) {
    size_t size = 0;
    ASSERT_EQ(0, sysctlbyname("kern.osrelease", nullptr, &size, nullptr, 0));
    std::string release(size, '\0');
    ASSERT_EQ(0, sysctlbyname("kern.osrelease", release.data(), &size, nullptr, 0));
    EXPECT_EQ('\0', release.back());
    int32_t cpus = 0;
    size = sizeof(cpus);
    ASSERT_EQ(0, sysctlbyname("hw.logicalcpu_max", &cpus, &size, nullptr, 0));
    EXPECT_GT(cpus, 0);
    size = sizeof(cpus);
    EXPECT_EQ(-1, sysctlbyname("sysctl.proc_native", &cpus, &size, nullptr, 0));
    char tiny[2];
    size = sizeof(tiny);
    EXPECT_EQ(-1, sysctlbyname("kern.osrelease", tiny, &size, nullptr, 0));
    EXPECT_EQ(ENOMEM, errno);

    mach::setSysctlOverride("hw.model", "Test1,1", 8);
    char model[16];
    size = sizeof(model);
    ASSERT_EQ(0, sysctlbyname("hw.model", model, &size, nullptr, 0));
    EXPECT_STREQ("Test1,1", model);
    mach::clearSysctlOverrides();

    int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, getpid()};
    kinfo_proc kp;
    size = sizeof(kp);
    ASSERT_EQ(0, sysctl(mib, 4, &kp, &size, nullptr, 0));
    EXPECT_EQ(sizeof(kp), size);
    EXPECT_EQ(getppid(), kp.kp_eproc.e_ppid);
    EXPECT_GT(kp.kp_proc.p_starttime.tv_sec, 1000000000);

    uint32_t pathSize = 1;
    char small[1];
    EXPECT_EQ(-1, _NSGetExecutablePath(small, &pathSize));
    EXPECT_GT(pathSize, 1u);
    std::string path(pathSize, '\0');
    EXPECT_EQ(0, _NSGetExecutablePath(path.data(), &pathSize));
    EXPECT_EQ(mach::OperatingSystemVersion{}.majorVersion, 0);
    EXPECT_GT(mach::operatingSystemVersion().majorVersion, 0);
}

TEST(MachCompatExceptions, TheUncaughtHandlerIsProcessWide) {
    static int calls = 0;
    ns::NSSetUncaughtExceptionHandler([](const ns::NSException& e) { calls += e.name() == "X" ? 1 : 0; });
    ns::NSGetUncaughtExceptionHandler()(ns::NSException("X", std::nullopt));
    EXPECT_EQ(1, calls);
    ns::NSSetUncaughtExceptionHandler(nullptr);
}

}  // namespace
