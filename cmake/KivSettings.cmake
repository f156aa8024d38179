add_library(kiv_settings INTERFACE)
target_compile_features(kiv_settings INTERFACE cxx_std_23)
set(CMAKE_CXX_STANDARD 23)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

target_compile_options(kiv_settings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
  -Wconversion -Wsign-conversion -Wold-style-cast -Wcast-qual -Wformat=2 -Wnull-dereference
  $<$<CXX_COMPILER_ID:GNU>:-Wlogical-op -Wduplicated-cond>
  $<$<CONFIG:Debug>:-D_GLIBCXX_ASSERTIONS>)
if(KIV_WERROR)
  target_compile_options(kiv_settings INTERFACE -Werror)
endif()

if(KIV_SANITIZE)
  target_compile_options(kiv_settings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(kiv_settings INTERFACE -fsanitize=address,undefined)
endif()

if(KIV_SANITIZE_THREAD)
  if(KIV_SANITIZE OR KIV_FUZZ)
    message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer: use a build directory of its own")
  endif()
  target_compile_options(kiv_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(kiv_settings INTERFACE -fsanitize=thread)
endif()

# Fuzz builds use clang (libFuzzer). libstdc++ 12 offers <expected> only to
# a compiler that claims the C++20 concepts level, which clang 16 implements
# but does not announce.
if(KIV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KIV_FUZZ needs clang (configure with CMAKE_CXX_COMPILER=clang++-16)")
  endif()
  target_compile_options(kiv_settings INTERFACE
    -D__cpp_concepts=202002L -Wno-macro-redefined
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(kiv_settings INTERFACE -fsanitize=address,undefined)
endif()

# kiv_add_library(NAME SOURCES... [DEPS libs...])
function(kiv_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC kiv_settings ${ARG_DEPS})
endfunction()

# kiv_add_test(NAME SOURCES... [DEPS libs...]): one GoogleTest executable,
# registered with ctest test by test.
function(kiv_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kiv_settings kiv_test_support ${ARG_DEPS} GTest::gmock GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KIV_TEST_BIN_DIR})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120)
endfunction()
