# Windows DLL: undecorated __cdecl exports from the .def file, and the C++
# runtime and winpthreads linked in statically so the DLL needs nothing
# beside Windows. Both architectures build from the same sources; the file is
# VeskSynth.dll in either case, in an engine directory named after the
# architecture (x86 or x64), which is what a host tells apart.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VESK_WINDOWS_ARCH x64)
else()
  set(VESK_WINDOWS_ARCH x86)
endif()

set_target_properties(vesksynth PROPERTIES PREFIX "" OUTPUT_NAME VeskSynth)
target_sources(vesksynth PRIVATE ${VESK_GENERATED_DIR}/vesksynth.def)
target_link_options(vesksynth PRIVATE -static -static-libgcc -static-libstdc++
  -Wl,--kill-at)

# The engine directory defaults to <build>/engine/<arch>.
set(VESK_ENGINE_DIR ${PROJECT_BINARY_DIR}/engine/${VESK_WINDOWS_ARCH} CACHE PATH
  "Directory holding the built engine and its data")

# Test programs that run under Wine (tests/windows); the Linux test tree
# needs the host's GoogleTest and ctest discovery, neither of which applies.
option(VESK_BUILD_WINDOWS_TESTS "Build the Windows test programs" OFF)
if(VESK_BUILD_WINDOWS_TESTS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/windows
                   ${PROJECT_BINARY_DIR}/tests-windows)
endif()
