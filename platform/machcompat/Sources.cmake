# Sources of platform_machcompat; also read by the 64-bit ARM sub-build of
# the crash engine (LQCrashReporter/Source/arm64).
set(MACHCOMPAT_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Mach.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MachThread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MachException.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Dyld.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Elf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Sysctl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/NSException.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Signals.cpp
)
