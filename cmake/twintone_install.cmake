# What `cmake --install` lays down for host developers: the two shared libraries
# with their versioned names, the public header (and the decoder's own header under
# include/twintone/), a pkg-config file, a CMake package giving the imported target
# twintone::twintone, and the command's manual page when the command is built.
include(CMakePackageConfigHelpers)

set(TWINTONE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/twintone)

install(TARGETS twintone twintone_decoder
  EXPORT twintoneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/twintone.h ${PROJECT_SOURCE_DIR}/include/twintone_ext.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/decoder/audio_decoder.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/twintone)

# CMake package: twintone::twintone (and twintone::twintone_decoder, which the
# library loads on its own; hosts need not link it).
install(EXPORT twintoneTargets
  NAMESPACE twintone::
  FILE twintoneTargets.cmake
  DESTINATION ${TWINTONE_CMAKE_DIR})
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/twintoneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/twintoneConfig.cmake
  INSTALL_DESTINATION ${TWINTONE_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/twintoneConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/twintoneConfig.cmake
  ${PROJECT_BINARY_DIR}/twintoneConfigVersion.cmake
  DESTINATION ${TWINTONE_CMAKE_DIR})

# pkg-config file, written at install time so that its paths name the prefix that
# `cmake --install --prefix` was given rather than the one configured.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(twintone_pc_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    # Kept as ${prefix} in the file: escaped once more for the install script.
    set(twintone_pc_${dir} "\\\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
install(CODE "
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(TWINTONE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(TWINTONE_PC_LIBDIR \"${twintone_pc_LIBDIR}\")
  set(TWINTONE_PC_INCLUDEDIR \"${twintone_pc_INCLUDEDIR}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/twintone.pc.in\"
                 \"${PROJECT_BINARY_DIR}/pkgconfig/twintone.pc\" @ONLY)
  file(INSTALL \"${PROJECT_BINARY_DIR}/pkgconfig/twintone.pc\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")
")

if(TWINTONE_BUILD_TOOLS)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/twintone.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The report layouts the man page points to, for scripts that read --json or --csv.
  install(FILES ${PROJECT_SOURCE_DIR}/docs/reports.md ${PROJECT_SOURCE_DIR}/docs/report.schema.json
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
