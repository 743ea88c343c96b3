# Writes the build date header only when the minute has changed, so that an
# unchanged tree does not relink on every build.
string(TIMESTAMP now "%Y-%m-%d %H:%M UTC" UTC)
set(text "#define VORN_BUILD_DATE \"${now}\"\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE "${OUT}" "${text}")
endif()
