# Carries every file under a resource folder inside the core library as byte
# arrays, so that both programs find their resources with no install layout.
#
# Included from a CMakeLists.txt, it defines
#   tokvane_embed_resources(<target> <folder>)
# which adds to <target> a source generated at build time from every file
# under <folder>. The set of files is globbed with CONFIGURE_DEPENDS, so an
# added or removed file re-runs the configure step and re-embeds, and each file
# is a dependency of the generated source, so a changed file re-embeds.
#
# Run as a script it writes that source:
#   cmake -DRESOURCE_DIR=<folder> -DOUTPUT=<file.cpp> -P EmbedResources.cmake

set(TOKVANE_EMBED_RESOURCES_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")

# Every file under `folder` as a path relative to it, sorted. Hidden files
# (".keep" and the like) are not resources. Extra arguments go to the glob.
function(tokvane_list_resources folder out_var)
  file(GLOB_RECURSE paths LIST_DIRECTORIES false RELATIVE "${folder}" ${ARGN} "${folder}/*")
  set(names "")
  foreach(path IN LISTS paths)
    if(NOT path MATCHES "(^|/)\\.")
      list(APPEND names "${path}")
    endif()
  endforeach()
  list(SORT names)
  set(${out_var} "${names}" PARENT_SCOPE)
endfunction()

function(tokvane_embed_resources target folder)
  tokvane_list_resources("${folder}" names CONFIGURE_DEPENDS)
  set(inputs "")
  foreach(name IN LISTS names)
    list(APPEND inputs "${folder}/${name}")
  endforeach()
  # A removed file leaves every remaining input older than the generated
  # source; the list of names, rewritten only when it changes, covers that.
  set(listing "${CMAKE_CURRENT_BINARY_DIR}/generated/CoreResources.list")
  string(REPLACE ";" "\n" names_text "${names}")
  file(CONFIGURE OUTPUT "${listing}" CONTENT "${names_text}\n" @ONLY)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/generated/CoreResourcesData.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" "-DRESOURCE_DIR=${folder}" "-DOUTPUT=${output}"
            -P "${TOKVANE_EMBED_RESOURCES_SCRIPT}"
    DEPENDS ${inputs} "${listing}" "${TOKVANE_EMBED_RESOURCES_SCRIPT}"
    COMMENT "Embedding the core resources"
    VERBATIM)
  target_sources(${target} PRIVATE "${output}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT RESOURCE_DIR OR NOT OUTPUT)
    message(FATAL_ERROR "EmbedResources.cmake needs -DRESOURCE_DIR=<folder> and -DOUTPUT=<file>")
  endif()
  get_filename_component(RESOURCE_DIR "${RESOURCE_DIR}" ABSOLUTE)
  tokvane_list_resources("${RESOURCE_DIR}" names)

  set(arrays "")
  set(entries "")
  set(count 0)
  foreach(name IN LISTS names)
    file(READ "${RESOURCE_DIR}/${name}" hex HEX)
    string(LENGTH "${hex}" hex_length)
    math(EXPR size "${hex_length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    # Twenty bytes a line (CMake's regular expressions have no counted repeats).
    string(REPEAT "0x[0-9a-f][0-9a-f]," 20 line)
    string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
    # A closing 0 keeps an empty file's array legal; it is not part of the size.
    string(APPEND arrays "const unsigned char resource${count}[] = {\n    ${bytes}0x00};\n\n")
    # The name as a C++ string literal.
    string(REPLACE "\\" "\\\\" literal "${name}")
    string(REPLACE "\"" "\\\"" literal "${literal}")
    string(REPLACE "\n" "\\n" literal "${literal}")
    string(APPEND entries "    {\"${literal}\", resource${count}, ${size}},\n")
    math(EXPR count "${count} + 1")
  endforeach()

  file(WRITE "${OUTPUT}"
    "// Generated at build time from the files under TokvaneCore/Resources by\n"
    "// TokvaneCore/EmbedResources.cmake. Do not edit.\n"
    "#include \"TokvaneCore/Foundation/CoreResources.hpp\"\n"
    "\n"
    "namespace tokvane::CoreResources::detail {\n"
    "\n"
    "namespace {\n"
    "\n"
    "${arrays}"
    "}  // namespace\n"
    "\n"
    "// The last row only keeps the array non-empty when there are no resources.\n"
    "const EmbeddedResource embeddedResources[] = {\n"
    "${entries}"
    "    {\"\", nullptr, 0},\n"
    "};\n"
    "const std::size_t embeddedResourceCount = ${count};\n"
    "\n"
    "}  // namespace tokvane::CoreResources::detail\n")
endif()
