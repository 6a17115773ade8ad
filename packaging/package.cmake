# The add-on package as Prepar3D v6 takes it: one folder holding add-on.xml,
# which declares TVOBridge64.dll as a DLL component (the simulator calls its
# DLLStart and DLLStop), the DLL beside it, and the README. bridgectl.exe goes
# along in tools/ for checking the bridge from the command line; the simulator
# loads only what add-on.xml names.
#
#   cmake --install build/mingw --prefix out      ->  out/TAVO.quin Simulator Bridge/...
#   cmake --build build/mingw --target package    ->  build/mingw/TAVO.quin-Simulator-Bridge-<version>.zip
set(TVO_ADDON_FOLDER "TAVO.quin Simulator Bridge")

# The DLL itself (install(TARGETS) would add its import library).
install(FILES $<TARGET_FILE:TVOBridge64> DESTINATION "${TVO_ADDON_FOLDER}")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/add-on.xml ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION "${TVO_ADDON_FOLDER}")
if(TARGET bridgectl)
  install(FILES $<TARGET_FILE:bridgectl> DESTINATION "${TVO_ADDON_FOLDER}/tools")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME "TAVO.quin Simulator Bridge")
set(CPACK_PACKAGE_VENDOR "TAVO.quin")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TAVO.quin Simulator Bridge, a Prepar3D v6 add-on")
set(CPACK_PACKAGE_FILE_NAME "TAVO.quin-Simulator-Bridge-${PROJECT_VERSION}")
# The archive holds the add-on folder itself at its top.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
