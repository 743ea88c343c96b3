# Shared compile settings for every target of the project.
function(vorn_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)
  if(NOT WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Unique symbols would keep the library mapped after the host unloads it.
    target_compile_options(${target} PRIVATE -fno-gnu-unique)
  endif()
endfunction()

# Adds the platform half of a concern: NAME_win32.cpp or NAME_posix.cpp beside the portable sources.
function(vorn_platform_sources target)
  foreach(name IN LISTS ARGN)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${name}_${VORN_PLATFORM}.cpp)
  endforeach()
endfunction()
