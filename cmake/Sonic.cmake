# Sonic, the speed and pitch changer: Debian's libsonic on Linux; for Windows
# builds, compiled from the upstream source that VESK_SONIC_SOURCE_DIR names.
find_package(Threads REQUIRED)

if(WIN32)
  if(NOT VESK_SONIC_SOURCE_DIR OR NOT EXISTS ${VESK_SONIC_SOURCE_DIR}/sonic.c)
    message(FATAL_ERROR "VESK_SONIC_SOURCE_DIR must name Sonic's source "
                        "(run scripts/fetch-sonic-source.sh)")
  endif()
  add_library(vesk_sonic STATIC ${VESK_SONIC_SOURCE_DIR}/sonic.c)
  target_include_directories(vesk_sonic PUBLIC ${VESK_SONIC_SOURCE_DIR})
  target_compile_options(vesk_sonic PRIVATE -w)
  add_library(vesk::sonic ALIAS vesk_sonic)
else()
  find_path(SONIC_INCLUDE_DIR sonic.h REQUIRED)
  find_library(SONIC_LIBRARY sonic REQUIRED)
  add_library(vesk::sonic UNKNOWN IMPORTED)
  set_target_properties(vesk::sonic PROPERTIES
    IMPORTED_LOCATION ${SONIC_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${SONIC_INCLUDE_DIR})
endif()
