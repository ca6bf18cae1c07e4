# Shared build rules: one static library per source folder, strict warnings on our
# own code only, and sanitizer flags applied project-wide from the preset.

if(HARKWELL_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(HARKWELL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  # Boost.Asio's scheduler uses atomic_thread_fence, which g++ only warns that
  # TSan does not model; the warning is about the library, not our code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-tsan)
  endif()
  add_link_options(-fsanitize=thread)
endif()

# The clang-tsa preset: clang's thread-safety analysis over every target, its
# findings errors, so that a guarded field touched without its lock or queue
# fails the build. Only clang has the analysis; asking for it elsewhere is a
# configuration mistake, not something to skip quietly.
if(HARKWELL_THREAD_SAFETY_ANALYSIS)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "HARKWELL_THREAD_SAFETY_ANALYSIS needs clang (the clang-tsa preset)")
  endif()
  add_compile_options(-Wthread-safety -Werror=thread-safety)
endif()

function(harkwell_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# harkwell_library(<name> [DEPS <targets...>])
# Builds every .cpp of the calling folder into a static library <name>.
function(harkwell_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    harkwell_warnings(${name})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# harkwell_tests(<name> [DEPS <targets...>] [LABELS <labels...>])
# Builds every .cpp of the calling folder into one GoogleTest binary and
# registers its tests with CTest under the given labels (default: unit).
function(harkwell_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  add_executable(${name} ${sources})
  harkwell_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} harkwell_test_support GTest::gmock_main Threads::Threads)
  gtest_discover_tests(${name} PROPERTIES LABELS "${ARG_LABELS}" DISCOVERY_TIMEOUT 60)
endfunction()
