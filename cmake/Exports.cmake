# The fourteen functions a host calls, in the order of include/vesksynth.h:
# the one list of exported names. The Linux version script, the Windows .def
# file and the header the tests and hosts resolve the exports by are
# generated from it into ${VESK_GENERATED_DIR}.
set(VESK_EXPORTS
  VeskSynthInitialize
  VeskSynthUninitialize
  VeskSynthGetInfo
  VeskSynthGetVoiceList
  VeskSynthPrepareVoice
  VeskSynthGetAudioFormat
  VeskSynthSetRate
  VeskSynthSetPitch
  VeskSynthSetVolume
  VeskSynthSetPlayCallback
  VeskSynthSpeak
  VeskSynthStop
  VeskSynthPause
  VeskSynthResume)

set(VESK_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)

set(VESK_MAP_EXPORTS "")
set(VESK_DEF_EXPORTS "")
set(VESK_EXPORT_ENTRIES "")
foreach(name ${VESK_EXPORTS})
  string(APPEND VESK_MAP_EXPORTS "    ${name};\n")
  string(APPEND VESK_DEF_EXPORTS "    ${name}\n")
  string(REGEX REPLACE "^VeskSynth" "" verb ${name})
  string(APPEND VESK_EXPORT_ENTRIES " \\\n  X(${verb})")
endforeach()

configure_file(${PROJECT_SOURCE_DIR}/src/api/vesksynth.map.in
  ${VESK_GENERATED_DIR}/vesksynth.map @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/src/api/vesksynth.def.in
  ${VESK_GENERATED_DIR}/vesksynth.def @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/src/api/vesksynth_exports.h.in
  ${VESK_GENERATED_DIR}/vesksynth_exports.h @ONLY)
