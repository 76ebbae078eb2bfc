# Include roots of the libraries.
#
# Every library is included by its path below the source tree
# ("TokvaneCore/Store/UsageStore.hpp", "Tokvane/Engine/Model/AppModel.hpp"),
# but a library must not see the rest of the tree through its include path:
# the core cannot reach the engine's headers, the engine cannot reach the
# interface's. So each library gets a folder of its own in the build tree that
# holds one symbolic link, its own module folder at its usual path, and that
# folder is its only include root.
#
#   tokvane_include_root(<target> <module path below the source tree>...)
#
# A library made of several folders (the interface's Theme/, Popover/, ...)
# names each of them; they share the one root.
function(tokvane_include_root target)
  set(root "${PROJECT_BINARY_DIR}/include-roots/${target}")
  foreach(module IN LISTS ARGN)
    set(link "${root}/${module}")
    get_filename_component(parent "${link}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    if(NOT IS_SYMLINK "${link}")
      file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${module}" "${link}" SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC "${root}")
endfunction()
