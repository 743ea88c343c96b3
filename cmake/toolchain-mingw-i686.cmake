# The shipped artefact: 32-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
# SSE arithmetic keeps float rounding the same as on every other build.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(VORN_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
