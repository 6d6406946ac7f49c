# Audio capture for programs run under Wine. Each program gets its own ALSA
# configuration, which Wine's ALSA driver reads through ALSA_CONFIG_PATH: a
# default device that writes every consumed word to a raw file over the null
# device (which consumes faster than real time), or no device at all. The
# device's text is capture-alsa.conf.in, which scripts/bench-playback uses too.

# kq_capture_env(<out-var> <name> [NO_DEVICE]): the environment of a program
# with the configuration <name>.alsa.conf in the current binary folder;
# KQ_CAPTURE names its raw file <name>.raw (a Unix path).
function(kq_capture_env out name)
  set(conf ${CMAKE_CURRENT_BINARY_DIR}/${name}.alsa.conf)
  set(KQ_CAPTURE_RAW ${CMAKE_CURRENT_BINARY_DIR}/${name}.raw)
  if(ARGN STREQUAL "NO_DEVICE")
    file(WRITE ${conf} "")
  else()
    configure_file(${PROJECT_SOURCE_DIR}/cmake/capture-alsa.conf.in ${conf} @ONLY)
  endif()
  set(${out} "ALSA_CONFIG_PATH=${conf};KQ_CAPTURE=${KQ_CAPTURE_RAW}" PARENT_SCOPE)
endfunction()
