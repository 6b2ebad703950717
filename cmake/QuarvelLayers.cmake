# The library's layers, each an OBJECT library of its own folder under src/.
#
#   quarvel_layer(<name> [USES <layer>...] SOURCES <file>... [LINK <target>...])
#
# A layer's sources see the public headers, their own folder's headers and
# those of the layers it uses (and of the layers those use), each as
# "<folder>/<header>.h", and nothing else of src/: an include of another
# layer's header does not compile. Layers are declared from the bottom up,
# so a layer can only use one declared before it and there are no cycles.
#
# Each layer gets an include root of its own in the build tree, holding a
# link to every folder it may see.

set_property(GLOBAL PROPERTY QUARVEL_LAYERS "")

function(quarvel_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 LAYER "" "" "USES;SOURCES;LINK")
  set(sees ${name})
  foreach(used IN LISTS LAYER_USES)
    if(NOT TARGET quarvel_layer_${used})
      message(FATAL_ERROR "layer '${name}' uses '${used}', which is not declared before it")
    endif()
    get_property(closure GLOBAL PROPERTY QUARVEL_LAYER_${used}_SEES)
    list(APPEND sees ${closure})
  endforeach()
  list(REMOVE_DUPLICATES sees)
  set_property(GLOBAL PROPERTY QUARVEL_LAYER_${name}_SEES ${sees})
  set_property(GLOBAL APPEND PROPERTY QUARVEL_LAYERS ${name})

  set(root ${PROJECT_BINARY_DIR}/layers/${name})
  file(MAKE_DIRECTORY ${root})
  # A link left from an earlier configuration with other uses goes (the
  # link only: file(REMOVE) does not follow it).
  file(GLOB present RELATIVE ${root} ${root}/*)
  foreach(entry IN LISTS present)
    if(NOT entry IN_LIST sees AND IS_SYMLINK ${root}/${entry})
      file(REMOVE ${root}/${entry})
    endif()
  endforeach()
  foreach(folder IN LISTS sees)
    if(NOT IS_SYMLINK ${root}/${folder})
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
  endforeach()

  add_library(quarvel_layer_${name} OBJECT ${LAYER_SOURCES})
  target_include_directories(quarvel_layer_${name} PRIVATE
    ${root} ${PROJECT_SOURCE_DIR}/include ${PROJECT_BINARY_DIR}/include)
  target_link_libraries(quarvel_layer_${name} PRIVATE quarvel_build_flags opencv_core ${LAYER_LINK})
endfunction()

# The object files of every layer declared so far.
function(quarvel_layer_objects out)
  get_property(layers GLOBAL PROPERTY QUARVEL_LAYERS)
  set(objects "")
  foreach(layer IN LISTS layers)
    list(APPEND objects $<TARGET_OBJECTS:quarvel_layer_${layer}>)
  endforeach()
  set(${out} ${objects} PARENT_SCOPE)
endfunction()
