# Flags shared by every target of the project.
# sicvm_warnings(target): the project's warning level, errors included.
function(sicvm_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

if(SICVM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Math commands rely on libm reporting domain and range errors through errno.
add_compile_options(-fmath-errno -fno-fast-math)
