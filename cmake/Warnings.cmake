# Compiler warnings, set on each target the project builds (never on what it
# imports). TOKVANE_WERROR turns them into errors; scripts/test-all sets it.
#
#   tokvane_target_warnings(<target>)    one target
#   tokvane_warnings_below(<folder>)     every target defined in <folder> and below
set(TOKVANE_WARNING_OPTIONS -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
# Under the sanitizers GCC's flow analysis reports "may be used
# uninitialized" inside the standard library's own templates (std::regex,
# std::function); the plain build keeps the warning.
if(TOKVANE_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND TOKVANE_WARNING_OPTIONS -Wno-maybe-uninitialized)
endif()

function(tokvane_target_warnings target)
  get_target_property(type ${target} TYPE)
  get_target_property(imported ${target} IMPORTED)
  if(imported OR type STREQUAL "INTERFACE_LIBRARY" OR type STREQUAL "UTILITY")
    return()
  endif()
  target_compile_options(${target} PRIVATE ${TOKVANE_WARNING_OPTIONS})
  if(TOKVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

function(tokvane_warnings_below folder)
  get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    tokvane_target_warnings(${target})
  endforeach()
  get_property(folders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS folders)
    tokvane_warnings_below(${sub})
  endforeach()
endfunction()
