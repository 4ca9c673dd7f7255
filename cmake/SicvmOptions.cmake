# Compile and link flags of the project's own targets. They are set per
# target, never globally, so that a parent project that adds sicvm with
# add_subdirectory or FetchContent keeps its own flags.
#
# sicvm_warnings(target): every target of the project calls this once. It
# gives the target
#   - the warning level (-Wall -Wextra), as errors when SICVM_WERROR is on;
#   - the math flags the library relies on: libm reports domain and range
#     errors through errno, and no fast-math reordering;
#   - AddressSanitizer and UndefinedBehaviorSanitizer when SICVM_SANITIZE is on
#     (an executable linked with a sanitized library needs the runtime too).
function(sicvm_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -fmath-errno -fno-fast-math)
  if(SICVM_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(SICVM_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                           -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "OBJECT_LIBRARY" AND NOT type STREQUAL "STATIC_LIBRARY")
      target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
  endif()
endfunction()
