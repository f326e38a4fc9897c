# Settings every target of the project shares: the language level, warnings as errors and
# the optional sanitizer instrumentation of a checking build.
add_library(quarry_common INTERFACE)
target_compile_features(quarry_common INTERFACE cxx_std_20)
target_compile_options(quarry_common INTERFACE -Wall -Wextra -Werror)
target_include_directories(quarry_common INTERFACE ${PROJECT_SOURCE_DIR})

set(QUARRY_SANITIZE "" CACHE STRING "Sanitizers to build with: empty, 'address,undefined' or 'thread'")
if(QUARRY_SANITIZE)
  target_compile_options(quarry_common INTERFACE
    -fsanitize=${QUARRY_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all -g)
  target_link_options(quarry_common INTERFACE -fsanitize=${QUARRY_SANITIZE})
endif()

# quarry_library(NAME DEPENDS...) makes the library of the calling folder from every .cpp in
# it; a folder without sources yet gives an interface library so that dependents still link.
function(quarry_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC quarry_common ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE quarry_common ${ARGN})
  endif()
endfunction()

# Seconds any one test may run before CTest stops it and reports it as failed by name, so that
# a test that hangs or spins ends the run instead of holding it until CI gives up. The slowest
# tests take a few seconds even under the sanitizers; the few that take longer set their own.
set(QUARRY_TEST_TIMEOUT 60)

# quarry_tests(NAME DEPENDS...) builds one GoogleTest program from the *_test.cpp files of the
# calling folder and registers each of its tests with CTest.
function(quarry_tests name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp
                                      ${CMAKE_CURRENT_SOURCE_DIR}/*_fixture.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE quarry_common ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main
                        Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                       PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                                  TIMEOUT ${QUARRY_TEST_TIMEOUT})
endfunction()
