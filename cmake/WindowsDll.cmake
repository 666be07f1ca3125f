# Windows DLL: undecorated __cdecl exports from the .def file, and the C++
# runtime linked in statically so the DLL needs nothing beside Windows.
target_sources(vesksynth PRIVATE ${PROJECT_SOURCE_DIR}/src/api/vesksynth.def)
target_link_options(vesksynth PRIVATE -static -static-libgcc -static-libstdc++
  -Wl,--kill-at)
