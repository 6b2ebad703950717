# Installs the library, its header, a CMake package (Quarvel::quarvel) and a
# pkg-config file.
set(QUARVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quarvel)

install(TARGETS quarvel
  EXPORT QuarvelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Every public header: each concept's, the export macro, the version.
file(GLOB QUARVEL_PUBLIC_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/quarvel/*.h)
install(FILES ${QUARVEL_PUBLIC_HEADERS} ${PROJECT_BINARY_DIR}/include/quarvel/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quarvel)

install(EXPORT QuarvelTargets
  NAMESPACE Quarvel::
  DESTINATION ${QUARVEL_CMAKE_DIR})
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/QuarvelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuarvelConfig.cmake
  INSTALL_DESTINATION ${QUARVEL_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/QuarvelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/QuarvelConfig.cmake
  ${PROJECT_BINARY_DIR}/QuarvelConfigVersion.cmake
  DESTINATION ${QUARVEL_CMAKE_DIR})

# The .pc file finds its prefix relative to itself, so the package works
# wherever it is installed (cmake --install --prefix ...).
file(RELATIVE_PATH QUARVEL_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" QUARVEL_PC_TO_PREFIX "${QUARVEL_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/quarvel.pc.in ${PROJECT_BINARY_DIR}/quarvel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quarvel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
