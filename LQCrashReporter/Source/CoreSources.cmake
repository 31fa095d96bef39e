# The crash-time sources of lqcrashreporter: they need only
# platform/machcompat and are shared with the 64-bit ARM sub-build (arm64/).
set(LQCRASH_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashAsyncSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashAsyncThreadState.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashAsyncMObject.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashAsyncMachO.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashAsyncImageList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashAsyncSymbolication.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashFrameCursor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashCompactUnwind.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashDwarfEncoding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashDwarfExpression.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashDwarfUnwind.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashSysctl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashSignalNames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashLogWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashSignalHandlerCore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashAlternateStacks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashMachExceptionCore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LQCrashReporterCore.cpp
)
