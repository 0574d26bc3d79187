# Warnings are errors in our own code; third-party headers come in as system includes.
function(vexalo_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-align
    -Wnull-dereference -Wimplicit-fallthrough -Wno-missing-field-initializers)
endfunction()
