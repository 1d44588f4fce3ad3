# Every folder of the plug-in is included as "<folder>/<file>.h". A target
# sees a folder's headers only by linking that folder's library: the include
# root of each library is a folder in the build tree that holds nothing but a
# link to its own source folder.
function(kv_include_root target folder scope)
  string(REPLACE "/" "_" root_name ${folder})
  set(root ${PROJECT_BINARY_DIR}/include-roots/${root_name})
  if(NOT EXISTS ${root}/${folder})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# kv_subsystem(NAME [SOURCES file...] [DEPENDS target...]): the folder NAME
# as library kv_NAME, static and position independent as it goes into the
# plug-in; header-only folders give an interface library.
function(kv_subsystem name)
  cmake_parse_arguments(arg "" "" "SOURCES;DEPENDS" ${ARGN})
  if(arg_SOURCES)
    add_library(kv_${name} STATIC ${arg_SOURCES})
    set_target_properties(kv_${name} PROPERTIES POSITION_INDEPENDENT_CODE ON
      CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    set(scope PUBLIC)
  else()
    add_library(kv_${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  kv_include_root(kv_${name} ${name} ${scope})
  target_link_libraries(kv_${name} ${scope} ${arg_DEPENDS})
endfunction()
