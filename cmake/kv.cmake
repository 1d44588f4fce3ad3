# Libraries every part of the plug-in builds against.
add_library(kv_common INTERFACE)
target_include_directories(kv_common INTERFACE ${PROJECT_SOURCE_DIR})
target_link_libraries(kv_common INTERFACE Boost::headers Boost::date_time JsonCpp::JsonCpp Threads::Threads)

# A subsystem: its pure pieces as a static library that goes into the
# plug-in (header-only when it has no sources yet).
function(kv_subsystem name)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(kv_${name} STATIC ${srcs})
    set_target_properties(kv_${name} PROPERTIES POSITION_INDEPENDENT_CODE ON
      CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    target_link_libraries(kv_${name} PUBLIC kv_common ${ARGN})
  else()
    add_library(kv_${name} INTERFACE)
    target_link_libraries(kv_${name} INTERFACE kv_common ${ARGN})
  endif()
endfunction()
