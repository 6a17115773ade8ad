# Installs the add-on and builds its ZIP package, then checks both layouts:
# the add-on folder with add-on.xml declaring TVOBridge64.dll as a DLL
# component, the DLL (a PE image), the README and tools/bridgectl.exe.
#   cmake -DBUILD_DIR=... -DWORK=... -DCPACK=... -P check_package.cmake
set(folder "TAVO.quin Simulator Bridge")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(check_layout root)
  foreach(file add-on.xml TVOBridge64.dll README.md tools/bridgectl.exe)
    if(NOT EXISTS "${root}/${folder}/${file}")
      message(FATAL_ERROR "${root}: ${folder}/${file} is missing")
    endif()
  endforeach()
  file(READ "${root}/${folder}/add-on.xml" xml)
  foreach(part
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<SimBase.Document Type=\"AddOnXml\" version=\"4,0\" id=\"add-on\">"
      "<AddOn.Name>TAVO.quin Simulator Bridge</AddOn.Name>"
      "<AddOn.Component>\n    <Category>DLL</Category>\n    <Path>TVOBridge64.dll</Path>"
      "</SimBase.Document>")
    string(FIND "${xml}" "${part}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "add-on.xml lacks: ${part}")
    endif()
  endforeach()
  # The DLL is the module itself: a PE image ("MZ"), not an import library.
  file(READ "${root}/${folder}/TVOBridge64.dll" head LIMIT 2 HEX)
  if(NOT head STREQUAL "4d5a")
    message(FATAL_ERROR "TVOBridge64.dll is no PE image")
  endif()
  file(GLOB_RECURSE everything RELATIVE "${root}" "${root}/*")
  list(SORT everything)
  set(expected "${folder}/README.md;${folder}/TVOBridge64.dll;${folder}/add-on.xml;${folder}/tools/bridgectl.exe")
  if(NOT everything STREQUAL expected)
    message(FATAL_ERROR "${root} holds ${everything}, expected ${expected}")
  endif()
endfunction()

execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK}/install"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install failed: ${output}")
endif()
check_layout("${WORK}/install")

# The package from the tree just installed, so that CPack does not build the
# project first (the test suite runs after the build, and nothing may be rebuilt
# in the middle of it); the archive's name and top level are the package's own.
execute_process(COMMAND ${CPACK} -G ZIP --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK}/cpack"
                        -D CPACK_INSTALL_CMAKE_PROJECTS=
                        -D "CPACK_INSTALLED_DIRECTORIES=${WORK}/install;."
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${output}")
endif()
file(GLOB zips "${WORK}/cpack/TAVO.quin-Simulator-Bridge-*.zip")
list(LENGTH zips count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one ZIP in ${WORK}/cpack, found: ${zips}")
endif()
file(MAKE_DIRECTORY "${WORK}/unzipped")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zips} WORKING_DIRECTORY "${WORK}/unzipped" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot extract ${zips}")
endif()
check_layout("${WORK}/unzipped")
message(STATUS "package layout: ok (${zips})")
