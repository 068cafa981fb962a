# Layers of the core. Each layer is a static library whose headers are seen
# as "<layer>/name.h" only by the targets that link it: its include root is a
# folder of the build tree holding one link, <layer> -> src/<layer>. A layer
# that includes a header of a layer above it (or of one it does not link)
# therefore fails to build. The programs' folders get such roots too, so that
# they see their own headers and the public API, and nothing of the core.

# Sets `out` to the include root that shows `dir` as "<name>/".
function(kestrune_include_root name dir out)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${name})
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${name})
    file(CREATE_LINK ${dir} ${root}/${name} SYMBOLIC)
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

function(kestrune_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  kestrune_include_root(${name} ${CMAKE_CURRENT_SOURCE_DIR} root)
  add_library(kestrune_${name} STATIC ${ARG_SOURCES})
  # Linked into the shared library, which exports only the public API.
  set_target_properties(kestrune_${name} PROPERTIES POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(kestrune_${name} PUBLIC ${root})
  target_link_libraries(kestrune_${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
endfunction()
