# The shipped Windows binaries (the DLL and kqhost): the version from
# project(), a version resource in each, the same bytes from any build folder
# at any time, and in a release build (KQ_RELEASE) stripped binaries with
# their debug information kept apart.
option(KQ_RELEASE "Strip the DLL and kqhost (debug information in .debug files beside them) and build the release zip" OFF)

# Build paths become fixed names in debug information and __FILE__; the build
# folder lies inside the source folder, so its (later, winning) map comes last.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
# No link time in the PE header or the export directory.
add_link_options(-Wl,--no-insert-timestamp)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KQ_PACKAGE_ARCH win64)
else()
  set(KQ_PACKAGE_ARCH win32)
endif()
set(KQ_PACKAGE_NAME KalvixQuad-ORVANE-${PROJECT_VERSION}-${KQ_PACKAGE_ARCH})
set(KQ_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/package/${KQ_PACKAGE_NAME}.zip)
# Shipped binaries, as the tests run them: bin/ holds these names in every build.
set(KQ_SHIPPED_DLL ${CMAKE_BINARY_DIR}/bin/KalvixQuad_ORVANE_PRECISION.dll)
set(KQ_SHIPPED_KQHOST ${CMAKE_BINARY_DIR}/bin/kqhost.exe)

# kq_shipped_binary(target FILE name DESCRIPTION text FILE_TYPE VFT_DLL|VFT_APP)
# Links a VERSIONINFO resource into target. DESCRIPTION is resource-script
# text: a quoted string or a macro of plugin/identity.h. With KQ_RELEASE the
# linker writes the full binary into unstripped/ (the static checks that need
# its symbols read it there) and bin/ gets the stripped one, which the tests
# load and the package holds, with name.debug beside it.
function(kq_shipped_binary target)
  cmake_parse_arguments(B "" "FILE;DESCRIPTION;FILE_TYPE" "" ${ARGN})
  set(KQ_RC_FILE ${B_FILE})
  set(KQ_RC_DESCRIPTION ${B_DESCRIPTION})
  set(KQ_RC_FILE_TYPE ${B_FILE_TYPE})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  set(obj ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.o)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/version.rc.in ${rc} @ONLY)
  # The resource compiler runs by hand: the project's compile options are
  # the C++ compiler's and mean nothing to it.
  add_custom_command(OUTPUT ${obj}
    COMMAND ${CMAKE_RC_COMPILER} -I ${PROJECT_SOURCE_DIR} -O coff -i ${rc} -o ${obj}
    DEPENDS ${rc} ${PROJECT_SOURCE_DIR}/plugin/identity.h
    VERBATIM)
  target_sources(${target} PRIVATE ${obj})

  if(KQ_RELEASE)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/unstripped)
    set(shipped ${CMAKE_BINARY_DIR}/bin/${B_FILE})
    # objcopy stamps a PE image it writes with the time unless
    # SOURCE_DATE_EPOCH is set: 0 keeps the linker's empty stamp.
    set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin
      COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE:${target}> ${shipped}.debug
      COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${shipped}.debug $<TARGET_FILE:${target}> ${shipped}
      VERBATIM)
  endif()
endfunction()
