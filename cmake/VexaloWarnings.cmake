# Warnings are errors in our own code; third-party headers come in as system includes.
function(vexalo_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-align
    -Wnull-dereference -Wimplicit-fallthrough -Wno-missing-field-initializers
    # GCC 12 reports impossible overlaps in inlined std::string code at -O3 (a known false
    # positive); keep it visible but not fatal.
    $<$<CXX_COMPILER_ID:GNU>:-Wno-error=restrict>)
endfunction()
