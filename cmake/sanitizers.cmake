# Instrumented builds of the host lane, each in a build directory of its own:
#
#   -DQUARVEL_SANITIZE=ON  everything built with AddressSanitizer and UndefinedBehaviorSanitizer;
#                          any report ends the process, so a finding fails the test that met it.
#   -DQUARVEL_FUZZ=ON      the same, plus the libFuzzer targets of fuzz/ (clang only), so that one
#                          build serves the fuzzers and the sanitizer run of the tests (see
#                          fuzz/CMakeLists.txt for what is instrumented for the fuzzer).

option(QUARVEL_SANITIZE "build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUARVEL_FUZZ "build the libFuzzer targets (clang; implies QUARVEL_SANITIZE)" OFF)

if(QUARVEL_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUARVEL_FUZZ needs clang (libFuzzer), e.g. -DCMAKE_CXX_COMPILER=clang++-19")
endif()

if(QUARVEL_SANITIZE OR QUARVEL_FUZZ)
    if(WIN32)
        message(FATAL_ERROR "The instrumented builds are host lane builds")
    endif()
    set(QUARVEL_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                                -fno-omit-frame-pointer)
    add_compile_options(${QUARVEL_SANITIZER_FLAGS})
    add_link_options(${QUARVEL_SANITIZER_FLAGS})
endif()
