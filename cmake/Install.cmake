# What `make install` and `make deb` lay out below the prefix:
#   bin/                          vesk-say, vesk-pinyin, vesk-voice (their own
#                                 install rules), the Speech Dispatcher module
#                                 where its folder installs it
#   <libdir>/vesk/                the engine directory: libvesksynth.so,
#                                 pinyin.txt, phrases.txt, the voices
#   include/vesksynth.h           the host interface
#   share/doc/vesk/               README, LICENSE, the data's attribution,
#                                 copyright (machine-readable, for Debian)
#   share/man/man1/               the tools' manual pages, from their --help
# Every tool finds the engine directory relative to itself, so the tree may be
# installed under any prefix or DESTDIR.

# The engine's data, when it has been generated (make data voice).
if(IS_ABSOLUTE "${VESK_INSTALL_ENGINE_DIR}")
  set(vesk_engine_destination "${VESK_INSTALL_ENGINE_DIR}")
else()
  set(vesk_engine_destination "\${CMAKE_INSTALL_PREFIX}/${VESK_INSTALL_ENGINE_DIR}")
endif()
install(CODE "
  file(GLOB vesk_engine_data \"${VESK_ENGINE_DIR}/pinyin.txt\"
       \"${VESK_ENGINE_DIR}/phrases.txt\" \"${VESK_ENGINE_DIR}/*.vl\")
  if(vesk_engine_data)
    file(INSTALL \${vesk_engine_data} DESTINATION \"${vesk_engine_destination}\")
  endif()")

install(FILES README.md LICENSE data/DATA-NOTICE.txt dist/copyright
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages from each tool's --help and --version.
find_program(VESK_HELP2MAN help2man)
if(VESK_HELP2MAN AND VESK_BUILD_TOOLS AND NOT WIN32)
  set(vesk_man_pages)
  foreach(pair
      "vesk-say|speak Chinese text aloud or into a sound file"
      "vesk-pinyin|print how the Vesk engine reads Chinese text"
      "vesk-voice|build and inspect Vesk voice libraries")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 tool)
    list(GET pair 1 summary)
    if(NOT TARGET ${tool})
      continue()
    endif()
    set(page ${PROJECT_BINARY_DIR}/man/${tool}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${VESK_HELP2MAN} --no-info --no-discard-stderr
              --name=${summary} --output=${page} $<TARGET_FILE:${tool}>
      DEPENDS ${tool}
      COMMENT "Manual page for ${tool}")
    list(APPEND vesk_man_pages ${page})
  endforeach()
  add_custom_target(vesk_man ALL DEPENDS ${vesk_man_pages})
  install(FILES ${vesk_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# make deb: one Debian package of the whole installation.
set(CPACK_PACKAGE_NAME vesk)
set(CPACK_PACKAGE_VENDOR "Vesk")
set(CPACK_PACKAGE_CONTACT "Vesk developers <vesk@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Mandarin Chinese text-to-speech engine and command-line tools")
set(CPACK_PACKAGE_DESCRIPTION
  "A Mandarin Chinese speech engine loaded as a speech plug-in, with its
dictionaries, its voices (a native speaker's, where built, and espeak-ng's),
vesk-say (speaks text aloud or into sound
files), vesk-pinyin and vesk-voice.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://localhost/vesk")
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/out)
include(CPack)
