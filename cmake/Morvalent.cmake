# Build conventions shared by every module.

set(MORVALENT_WARNINGS -Wall -Wextra -Werror)
if(MORVALENT_SANITIZE)
  # g++ 12's flow analysis under the sanitizers reports uninitialised values
  # that aren't (std::variant, std::optional); the plain build keeps the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    list(APPEND MORVALENT_WARNINGS -Wno-maybe-uninitialized)
  endif()
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined -g1)
  add_link_options(-fsanitize=address,undefined)
endif()

# Every library, test and benchmark target is compiled as unity batches: a few
# .cpp files per translation unit. The headers (the standard library, GoogleTest)
# are then parsed once per batch rather than once per file, which
# nearly halves a build from scratch. It is on for everyone so that clashes between
# files (same-named helpers in anonymous namespaces, file-scope using
# declarations) show up in every build, not only in CI's.
option(MORVALENT_UNITY "Compile targets in unity batches" ON)
set(MORVALENT_UNITY_BATCH 8 CACHE STRING "Source files per unity batch")

function(morvalent_unity target)
  if(MORVALENT_UNITY)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${MORVALENT_UNITY_BATCH}
      UNITY_BUILD_MODE BATCH)
    # g++ warns of a class whose base or member lives in an anonymous namespace
    # when the class is defined outside the main file, since in a header that is
    # an ODR hazard. In a batch every .cpp is an included file, so each fixture
    # in an anonymous namespace (and each coroutine frame over one) would warn.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
    endif()
  endif()
endfunction()

# morvalent_library(<target> SOURCES ... [DEPS ...] [PKG ...])
# One static library per module; its directory is on the include path of its
# users, so headers are included as "platform/foundation/Value.h" relative to
# the repository root.
function(morvalent_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PKG" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  morvalent_unity(${target})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
  target_compile_options(${target} PRIVATE ${MORVALENT_WARNINGS})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS} Threads::Threads)
  foreach(pkg IN LISTS ARG_PKG)
    string(MAKE_C_IDENTIFIER "${pkg}" id)
    if(NOT TARGET PkgConfig::${id})
      pkg_check_modules(${id} REQUIRED IMPORTED_TARGET GLOBAL ${pkg})
    endif()
    target_link_libraries(${target} PUBLIC PkgConfig::${id})
  endforeach()
endfunction()

# morvalent_test(<target> SOURCES ... DEPS ...)
# A GoogleTest executable whose cases are registered one by one with CTest.
function(morvalent_test target)
  if(NOT MORVALENT_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;PROPERTIES" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${target} ${ARG_SOURCES})
  morvalent_unity(${target})
  target_compile_options(${target} PRIVATE ${MORVALENT_WARNINGS})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  # GoogleTest and GoogleMock are the heaviest headers every test file reads.
  # A unity batch reads them once anyway, and there a precompiled header costs
  # more to build than it saves.
  if(NOT MORVALENT_UNITY)
    target_precompile_headers(${target} PRIVATE <gtest/gtest.h> <gmock/gmock.h> <string> <vector> <memory>
      <functional> <map> <optional>)
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ${ARG_PROPERTIES})
endfunction()

# morvalent_benchmark(<target> SOURCES ... DEPS ...)
function(morvalent_benchmark target)
  if(NOT MORVALENT_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  morvalent_unity(${target})
  target_compile_options(${target} PRIVATE ${MORVALENT_WARNINGS})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# morvalent_module(<target> [DEPS ...] [PKG ...] [TEST_DEPS ...])
# A module whose sources are every .cpp in its directory tree except tests/,
# fuzz/ and tools/, and whose tests are every .cpp under tests/ (one
# executable, <target>_tests). Several people can add files to one module
# without touching its CMakeLists.
function(morvalent_module target)
  cmake_parse_arguments(ARG "" "" "DEPS;PKG;TEST_DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/(tests|fuzz|tools)/")
  if(sources)
    morvalent_library(${target} SOURCES ${sources} DEPS ${ARG_DEPS} PKG ${ARG_PKG})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
  file(GLOB_RECURSE tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  if(tests)
    morvalent_test(${target}_tests SOURCES ${tests} DEPS ${target} ${ARG_TEST_DEPS})
  endif()
endfunction()
