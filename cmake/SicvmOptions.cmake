# SPDX-License-Identifier: MIT
# Compile and link flags of the project's own targets. They are set per
# target, never globally, so that a parent project that adds sicvm with
# add_subdirectory or FetchContent keeps its own flags.
#
# sicvm_warnings(target): every target of the project calls this once. It
# gives the target
#   - the warning level (-Wall -Wextra), as errors when SICVM_WERROR is on;
#   - the math flags the library relies on: libm reports domain and range
#     errors through errno, and no fast-math reordering;
#   - the instrumentation of the build's kind:
#     SICVM_FUZZ: libFuzzer's coverage instrumentation with AddressSanitizer
#       and UndefinedBehaviorSanitizer (the fuzz targets add libFuzzer's main);
#     SICVM_TSAN: ThreadSanitizer. clang's shared TSan runtime does not start
#       on these machines, so executables link the static runtime and the
#       shared libraries leave its symbols to be resolved at load time;
#     SICVM_SANITIZE: AddressSanitizer and UndefinedBehaviorSanitizer
#   (an executable linked with an instrumented library needs the runtime too).

if(SICVM_FUZZ)
  set(SICVM_INSTRUMENT_COMPILE -fsanitize=fuzzer-no-link,address,undefined
      -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  set(SICVM_INSTRUMENT_LINK -fsanitize=address,undefined)
elseif(SICVM_TSAN)
  set(SICVM_INSTRUMENT_COMPILE -fsanitize=thread -fno-omit-frame-pointer)
  set(SICVM_INSTRUMENT_LINK -fsanitize=thread -static-libsan)
elseif(SICVM_SANITIZE)
  set(SICVM_INSTRUMENT_COMPILE -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
  set(SICVM_INSTRUMENT_LINK -fsanitize=address,undefined)
endif()

# Sanitizer runtimes are resolved at load time, not when a shared library links.
if(SICVM_SANITIZE OR SICVM_FUZZ OR SICVM_TSAN)
  set(SICVM_INSTRUMENTED ON)
else()
  set(SICVM_INSTRUMENTED OFF)
endif()

function(sicvm_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -fmath-errno -fno-fast-math)
  if(SICVM_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(SICVM_INSTRUMENTED)
    target_compile_options(${target} PRIVATE ${SICVM_INSTRUMENT_COMPILE})
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "OBJECT_LIBRARY" AND NOT type STREQUAL "STATIC_LIBRARY")
      target_link_options(${target} PRIVATE ${SICVM_INSTRUMENT_LINK})
    endif()
  endif()
endfunction()
