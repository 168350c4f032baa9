# Installation of the library, its header, a pkg-config file and a CMake
# package: `cmake --install BUILD --prefix DIR`, then pkg-config vellix or
# find_package(vellix) with the target vellix::vellix.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Consumers of the installed package find the header under the prefix.
set_property(TARGET vellix PROPERTY INTERFACE_INCLUDE_DIRECTORIES
  "$<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>;$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")

install(TARGETS vellix EXPORT vellixTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/vellix.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(VELLIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vellix)
install(EXPORT vellixTargets NAMESPACE vellix:: DESTINATION ${VELLIX_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/vellixConfig.cmake.in
  ${CMAKE_BINARY_DIR}/vellixConfig.cmake INSTALL_DESTINATION ${VELLIX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/vellixConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/vellixConfig.cmake ${CMAKE_BINARY_DIR}/vellixConfigVersion.cmake
  DESTINATION ${VELLIX_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so it stays right
# wherever the tree is installed (--prefix at install time included).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VELLIX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH _vellix_up "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  string(REGEX REPLACE "/$" "" _vellix_up "${_vellix_up}")
  set(VELLIX_PC_PREFIX "\${pcfiledir}/${_vellix_up}")
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/vellix.pc.in ${CMAKE_BINARY_DIR}/vellix.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vellix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
