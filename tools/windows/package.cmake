# The Windows package: mokopon-windows.zip (a folder that runs from anywhere) and
# mokopon-setup.exe (the NSIS installer), made from the program folder of the build.
find_program(MOKOPON_MAKENSIS makensis)
add_custom_target(mokopon-package
  COMMAND bash ${CMAKE_SOURCE_DIR}/tools/windows/package.sh ${MOKOPON_BIN_DIR} ${CMAKE_BINARY_DIR}
    ${QT6_INSTALL_PREFIX} ${CMAKE_CXX_COMPILER}
  DEPENDS mokopon mokopon-mail
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  VERBATIM)
