# Shared compile settings for every target of the project.
function(vorn_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)
  if(NOT WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Unique symbols would keep the library mapped after the host unloads it.
    target_compile_options(${target} PRIVATE -fno-gnu-unique)
  endif()
endfunction()

# vorn_add_layer(TARGET FOLDER [PUBLIC lower layers...] [PRIVATE lower layers...])
# One folder's static library. Its include root holds a link to its own folder
# alone (<build>/layers/TARGET/FOLDER), so its code and whoever links it spell
# includes "folder/file.h" while a folder it does not link stays out of sight:
# an include that climbs a layer fails to compile. PUBLIC: a lower layer whose
# headers this layer's headers include.
function(vorn_add_layer target folder)
  cmake_parse_arguments(L "" "" "PUBLIC;PRIVATE" ${ARGN})
  add_library(${target} STATIC)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC vorn_platform ${L_PUBLIC} PRIVATE ${L_PRIVATE})
  vorn_warnings(${target})
endfunction()

# Adds the platform half of a concern: NAME_win32.cpp or NAME_posix.cpp beside the portable sources.
function(vorn_platform_sources target)
  foreach(name IN LISTS ARGN)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${name}_${VORN_PLATFORM}.cpp)
  endforeach()
endfunction()
