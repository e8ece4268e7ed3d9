# One interface target carries the warning set; every target of the project links it.
add_library(dcu_warnings INTERFACE)
target_compile_options(dcu_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wcast-align -Wconversion -Wformat=2
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast>)
if(DCU_WERROR)
  target_compile_options(dcu_warnings INTERFACE -Werror)
endif()
