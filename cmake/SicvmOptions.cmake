# Flags shared by every target of the project.
# sicvm_warnings(target): the project's warning level, errors included.
function(sicvm_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

if(SICVM_FUZZ)
  # Everything carries the fuzzer's coverage instrumentation and both
  # sanitizers; the fuzz targets add libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(SICVM_TSAN)
  # clang's shared TSan runtime does not start on these machines: executables
  # link the static runtime, and the shared libraries leave its symbols to
  # be resolved from the executable at load time.
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread -static-libsan)
elseif(SICVM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Math commands rely on libm reporting domain and range errors through errno.
add_compile_options(-fmath-errno -fno-fast-math)

# Sanitizer runtimes are resolved at load time, not when a shared library links.
if(SICVM_SANITIZE OR SICVM_FUZZ OR SICVM_TSAN)
  set(SICVM_INSTRUMENTED ON)
endif()
