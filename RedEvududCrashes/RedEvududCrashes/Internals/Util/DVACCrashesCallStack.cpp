#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACCrashesCallStack.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "platform/foundation/Paths.h"

namespace dvac {

namespace {

std::string symbolLine(size_t index, uint64_t address) {
  std::string image = "???";
  std::string symbol;
  uint64_t offset = 0;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &info) != 0) {
    if (info.dli_fname && *info.dli_fname) image = ns::paths::lastPathComponent(info.dli_fname);
    if (info.dli_sname) {
      int status = -1;
      char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
      symbol = status == 0 && demangled ? demangled : info.dli_sname;
      std::free(demangled);
      offset = address - reinterpret_cast<uint64_t>(info.dli_saddr);
    } else if (info.dli_fbase) {
      offset = address - reinterpret_cast<uint64_t>(info.dli_fbase);
    }
  }
  if (symbol.empty()) {
    char base[32];
    std::snprintf(base, sizeof base, "0x%" PRIx64, address - offset);
    symbol = base;
  }
  char prefix[96];
  std::snprintf(prefix, sizeof prefix, "%-4zu%-35s 0x%016" PRIx64 " ", index, image.c_str(), address);
  return prefix + symbol + " + " + std::to_string(offset);
}

}  // namespace

std::vector<std::string> currentCallStackSymbols(int skip) {
  void* frames[128];
  const int count = ::backtrace(frames, 128);
  std::vector<std::string> lines;
  for (int i = 1 + skip; i < count; ++i) {
    lines.push_back(symbolLine(lines.size(), reinterpret_cast<uint64_t>(frames[i])));
  }
  return lines;
}

std::vector<std::string> callStackSymbolsForAddresses(const std::vector<uint64_t>& addresses) {
  std::vector<std::string> lines;
  lines.reserve(addresses.size());
  for (uint64_t address : addresses) lines.push_back(symbolLine(lines.size(), address));
  return lines;
}

}  // namespace dvac
