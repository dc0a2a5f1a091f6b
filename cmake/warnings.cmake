# Warnings are errors on both compilers.
function(kx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Werror)
endfunction()

# The code that goes into SETUP.EXE neither throws nor looks at types at run time: built
# without exceptions and RTTI, the program carries no C++ unwinder (nor the thread library
# the unwinder needs), which keeps the setup stub small. Without an unwinder nothing reads
# unwind tables either, so none are emitted.
function(kx_lean target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti
                         -fno-asynchronous-unwind-tables -fno-unwind-tables)
endfunction()
