#include "platform/machcompat/Dyld.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace mach {
namespace {

struct Image {
    const mach_header* header;
    intptr_t slide;
    const char* name;  // interned
    bool explicitImage;
};

std::recursive_mutex g_mutex;
std::vector<Image> g_images;          // the last snapshot
std::vector<Image> g_explicitImages;  // registered Mach-O images
std::vector<dyld_image_callback> g_addCallbacks;
std::vector<dyld_image_callback> g_removeCallbacks;

// Interned names: never freed, so pointers handed out stay valid.
const char* intern(const std::string& s) {
    static auto* names = new std::deque<std::string>();  // never destroyed
    for (const std::string& n : *names) {
        if (n == s) return n.c_str();
    }
    names->push_back(s);
    return names->back().c_str();
}

std::string executablePath() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return {};
    buf[n] = '\0';
    return buf;
}

int collect(struct dl_phdr_info* info, size_t, void* data) {
    auto* out = static_cast<std::vector<Image>*>(data);
    const ElfW(Phdr)* first = nullptr;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_offset == 0) {
            first = &info->dlpi_phdr[i];
            break;
        }
    }
    if (!first) return 0;
    uintptr_t header = info->dlpi_addr + first->p_vaddr;
    std::string name = info->dlpi_name ? info->dlpi_name : "";
    if (name.empty() && out->empty()) name = executablePath();
    if (name.empty()) return 0;
    out->push_back(Image{reinterpret_cast<const mach_header*>(header), static_cast<intptr_t>(info->dlpi_addr),
                         intern(name), false});
    return 0;
}

void refresh() {
    std::vector<Image> images;
    ::dl_iterate_phdr(collect, &images);
    images.insert(images.end(), g_explicitImages.begin(), g_explicitImages.end());
    g_images = std::move(images);
}

template <typename Header, typename Segment, typename Section, uint32_t SegmentCommand>
const uint8_t* findSection(const Header* header, const char* segname, const char* sectname, uint64_t* size) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(header) + sizeof(Header);
    const uint8_t* end = p + header->sizeofcmds;
    for (uint32_t i = 0; i < header->ncmds && p + sizeof(load_command) <= end; ++i) {
        load_command lc;
        std::memcpy(&lc, p, sizeof(lc));
        if (lc.cmdsize < sizeof(load_command) || p + lc.cmdsize > end) break;
        if (lc.cmd == SegmentCommand && lc.cmdsize >= sizeof(Segment)) {
            Segment seg;
            std::memcpy(&seg, p, sizeof(seg));
            if (std::strncmp(seg.segname, segname, 16) == 0) {
                const uint8_t* s = p + sizeof(Segment);
                for (uint32_t j = 0; j < seg.nsects && s + sizeof(Section) <= p + lc.cmdsize; ++j, s += sizeof(Section)) {
                    Section sect;
                    std::memcpy(&sect, s, sizeof(sect));
                    if (std::strncmp(sect.sectname, sectname, 16) == 0) {
                        *size = sect.size;
                        return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(sect.addr));
                    }
                }
            }
        }
        p += lc.cmdsize;
    }
    return nullptr;
}

}  // namespace

void dyldAddImage(const void* header, intptr_t slide, const char* path) {
    std::vector<dyld_image_callback> callbacks;
    {
        std::lock_guard<std::recursive_mutex> lock(g_mutex);
        g_explicitImages.push_back(Image{static_cast<const mach_header*>(header), slide,
                                         intern(path ? path : ""), true});
        callbacks = g_addCallbacks;
    }
    for (dyld_image_callback cb : callbacks) cb(static_cast<const mach_header*>(header), slide);
}

void dyldRemoveImage(const void* header) {
    std::vector<dyld_image_callback> callbacks;
    intptr_t slide = 0;
    bool found = false;
    {
        std::lock_guard<std::recursive_mutex> lock(g_mutex);
        for (auto it = g_explicitImages.begin(); it != g_explicitImages.end(); ++it) {
            if (it->header == header) {
                slide = it->slide;
                g_explicitImages.erase(it);
                found = true;
                break;
            }
        }
        callbacks = g_removeCallbacks;
    }
    if (!found) return;
    for (dyld_image_callback cb : callbacks) cb(static_cast<const mach_header*>(header), slide);
}

const char* dyldImagePath(const void* header) {
    {
        std::lock_guard<std::recursive_mutex> lock(g_mutex);
        for (const Image& i : g_explicitImages) {
            if (i.header == header) return i.name;
        }
        refresh();
        for (const Image& i : g_images) {
            if (i.header == header) return i.name;
        }
    }
    Dl_info info;
    if (::dladdr(header, &info) != 0 && info.dli_fname && info.dli_fbase == header) return intern(info.dli_fname);
    return nullptr;
}

void dyldResetCallbacksForTesting() {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    g_addCallbacks.clear();
    g_removeCallbacks.clear();
}

}  // namespace mach

using namespace mach;

void _dyld_register_func_for_add_image(dyld_image_callback func) {
    std::vector<Image> images;
    {
        std::lock_guard<std::recursive_mutex> lock(g_mutex);
        g_addCallbacks.push_back(func);
        refresh();
        images = g_images;
    }
    for (const Image& i : images) func(i.header, i.slide);
}

void _dyld_register_func_for_remove_image(dyld_image_callback func) {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    g_removeCallbacks.push_back(func);
}

uint32_t _dyld_image_count() {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    refresh();
    return static_cast<uint32_t>(g_images.size());
}

const mach_header* _dyld_get_image_header(uint32_t index) {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    if (g_images.empty()) refresh();  // callers need not ask for the count first
    return index < g_images.size() ? g_images[index].header : nullptr;
}

const char* _dyld_get_image_name(uint32_t index) {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    if (g_images.empty()) refresh();  // callers need not ask for the count first
    return index < g_images.size() ? g_images[index].name : nullptr;
}

intptr_t _dyld_get_image_vmaddr_slide(uint32_t index) {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    if (g_images.empty()) refresh();  // callers need not ask for the count first
    return index < g_images.size() ? g_images[index].slide : 0;
}

const uint8_t* getsectdatafromheader(const mach_header* header, const char* segname, const char* sectname,
                                     uint32_t* size) {
    if (!header || header->magic != MH_MAGIC) return nullptr;
    uint64_t s = 0;
    const uint8_t* p = findSection<mach_header, segment_command, section, LC_SEGMENT>(header, segname, sectname, &s);
    if (p && size) *size = static_cast<uint32_t>(s);
    return p;
}

const uint8_t* getsectdatafromheader_64(const mach_header_64* header, const char* segname, const char* sectname,
                                        uint64_t* size) {
    if (!header || header->magic != MH_MAGIC_64) return nullptr;
    uint64_t s = 0;
    const uint8_t* p =
        findSection<mach_header_64, segment_command_64, section_64, LC_SEGMENT_64>(header, segname, sectname, &s);
    if (p && size) *size = s;
    return p;
}
