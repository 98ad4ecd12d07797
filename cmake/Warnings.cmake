# One interface target carries the warning set for every target of our own.
add_library(kd7x_warnings INTERFACE)
target_compile_options(kd7x_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Werror)
