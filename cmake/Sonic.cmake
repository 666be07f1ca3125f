# Sonic, the speed and pitch changer: Debian's libsonic on Linux; for Windows
# builds, compiled from the upstream source that VESK_SONIC_SOURCE_DIR names.
find_package(Threads REQUIRED)

if(WIN32)
  # scripts/fetch-sonic-source.sh unpacks it below build-deps/ by default.
  if(NOT VESK_SONIC_SOURCE_DIR)
    file(GLOB VESK_SONIC_CANDIDATES LIST_DIRECTORIES true
      ${PROJECT_SOURCE_DIR}/build-deps/sonic-*)
    if(VESK_SONIC_CANDIDATES)
      list(SORT VESK_SONIC_CANDIDATES COMPARE NATURAL ORDER DESCENDING)
      list(GET VESK_SONIC_CANDIDATES 0 VESK_SONIC_SOURCE_DIR)
    endif()
  endif()
  if(NOT VESK_SONIC_SOURCE_DIR OR NOT EXISTS ${VESK_SONIC_SOURCE_DIR}/sonic.c)
    message(FATAL_ERROR "VESK_SONIC_SOURCE_DIR must name Sonic's source "
                        "(run scripts/fetch-sonic-source.sh)")
  endif()
  set(VESK_SONIC_SOURCE_DIR ${VESK_SONIC_SOURCE_DIR} CACHE PATH
    "Sonic's upstream source (sonic.c, sonic.h)")
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
