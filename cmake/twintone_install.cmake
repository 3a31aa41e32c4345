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
install(FILES ${PROJECT_SOURCE_DIR}/include/twintone.h
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

# pkg-config file. Its prefix is found from the file's own place, so the same file
# serves whatever prefix `cmake --install --prefix` is given.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(TWINTONE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(TWINTONE_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(TWINTONE_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH twintone_pc_up "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" twintone_pc_up "${twintone_pc_up}")
  set(TWINTONE_PC_PREFIX "\${pcfiledir}/${twintone_pc_up}")
  set(TWINTONE_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(TWINTONE_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/twintone.pc.in ${PROJECT_BINARY_DIR}/twintone.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/twintone.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TWINTONE_BUILD_TOOLS)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/twintone.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
