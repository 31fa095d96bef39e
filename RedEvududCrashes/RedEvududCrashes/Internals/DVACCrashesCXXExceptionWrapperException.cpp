#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesCXXExceptionWrapperException.h"

#include <cxxabi.h>

#include <cstdlib>
#include <string>

std::string DVACCrashesCXXExceptionWrapperException::demangledTypeName(const char* typeName) {
  if (!typeName) return "";
  int status = -1;
  char* demangled = abi::__cxa_demangle(typeName, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : typeName;
  std::free(demangled);
  return name;
}

DVACCrashesCXXExceptionWrapperException::DVACCrashesCXXExceptionWrapperException(
    const DVACCrashesUncaughtCXXExceptionInfo* info)
    : ns::NSException(demangledTypeName(info ? info->exception_type_name : nullptr),
                      std::string(info && info->exception_message ? info->exception_message : "")),
      info_(info) {}

std::vector<uint64_t> DVACCrashesCXXExceptionWrapperException::callStackReturnAddresses() const {
  std::vector<uint64_t> addresses;
  if (!info_ || !info_->exception_frames) return addresses;
  addresses.reserve(info_->exception_frames_count);
  for (uint32_t i = 0; i < info_->exception_frames_count; ++i) addresses.push_back(info_->exception_frames[i]);
  return addresses;
}

void DVACCrashesUncaughtCXXExceptionHandler(const DVACCrashesUncaughtCXXExceptionInfo* info) {
  ns::NSUncaughtExceptionHandler handler = ns::NSGetUncaughtExceptionHandler();
  DVACCrashesCXXExceptionWrapperException wrapper(info);
  if (handler) handler(wrapper);
  std::abort();
}
