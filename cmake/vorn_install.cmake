# What an install puts beside the library and the tools: the files integrators
# build against, the udev rule, man pages, docs and examples. Paths are relative
# to the prefix, so --prefix and DESTDIR are honoured.

set(VORN_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Where the udev rule is installed (relative: under the prefix)")

if(WIN32)
  # The Windows bundle is one flat folder: the DLL and vornctl.exe side by side.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/README.txt ${CMAKE_BINARY_DIR}/install/README.txt @ONLY
                   NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_BINARY_DIR}/install/README.txt DESTINATION .)
    install(FILES ${CMAKE_SOURCE_DIR}/examples/host.c ${CMAKE_SOURCE_DIR}/examples/host.py DESTINATION examples)
  endif()
  return()
endif()

include(CMakePackageConfigHelpers)
set(VORN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vorn)

# vorn.pc is written at install time so that it names the prefix actually
# installed into, whatever --prefix says.
install(CODE "
  set(VORN_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(VORN_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(VORN_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(VORN_PC_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/cmake/vorn.pc.in\" \"${CMAKE_BINARY_DIR}/install/vorn.pc\" @ONLY)
")
install(FILES ${CMAKE_BINARY_DIR}/install/vorn.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(EXPORT VornTargets NAMESPACE Vorn:: DESTINATION ${VORN_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/VornConfig.cmake.in ${CMAKE_BINARY_DIR}/install/VornConfig.cmake
                              INSTALL_DESTINATION ${VORN_CMAKE_DIR})
# A host built against 1.x runs with any later 1.x: the exports only grow.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/install/VornConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/install/VornConfig.cmake ${CMAKE_BINARY_DIR}/install/VornConfigVersion.cmake
        DESTINATION ${VORN_CMAKE_DIR})

install(FILES ${CMAKE_SOURCE_DIR}/packaging/udev/60-vorn.rules DESTINATION ${VORN_UDEV_RULES_DIR})

# Examples and docs.
configure_file(${CMAKE_SOURCE_DIR}/cmake/example_host.cmake.in ${CMAKE_BINARY_DIR}/install/examples/CMakeLists.txt @ONLY)
install(FILES ${CMAKE_SOURCE_DIR}/examples/host.c ${CMAKE_SOURCE_DIR}/examples/host.py
              ${CMAKE_BINARY_DIR}/install/examples/CMakeLists.txt
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/run-with-sim.sh DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_SOURCE_DIR}/docs/architecture.md
              ${CMAKE_SOURCE_DIR}/docs/protocol.md ${CMAKE_SOURCE_DIR}/docs/reliability.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/tools/vornctl/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME vornctl.md)
install(FILES ${CMAKE_SOURCE_DIR}/tools/vorn-sim/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME vorn-sim.md)
install(FILES ${CMAKE_SOURCE_DIR}/python/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME python.md)

# Man pages from the programs' own --help, so they cannot drift from it.
find_program(VORN_HELP2MAN help2man)
if(NOT VORN_HELP2MAN)
  if(VORN_PACKAGING)
    message(FATAL_ERROR "help2man not found: the man pages need it (scripts/bootstrap test installs it)")
  endif()
  message(STATUS "help2man not found: no man pages")
  return()
endif()
set(pages "")
foreach(tool IN ITEMS vornctl vorn-sim)
  if(NOT TARGET ${tool})
    continue()
  endif()
  if(tool STREQUAL "vornctl")
    set(what "record from Vorn physiological monitors")
  else()
    set(what "simulate a Vorn device on a pseudo-terminal")
  endif()
  set(page ${CMAKE_BINARY_DIR}/install/man/${tool}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/install/man
    COMMAND ${VORN_HELP2MAN} --no-info --section=1 --name=${what}
            --version-string=${PROJECT_VERSION} --output=${page} $<TARGET_FILE:${tool}>
    DEPENDS ${tool}
    COMMENT "Man page of ${tool}"
    VERBATIM)
  list(APPEND pages ${page})
endforeach()
if(pages)
  add_custom_target(vorn_man_pages ALL DEPENDS ${pages})
  # OPTIONAL: a build of only some targets (scripts/demo's) still installs.
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)
endif()
