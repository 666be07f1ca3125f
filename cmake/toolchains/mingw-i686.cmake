# The 32-bit DLL, for 32-bit hosts.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# x87 arithmetic keeps extended precision and rounds differently from every
# other build; SSE2 gives the same single-precision results as x86_64.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
