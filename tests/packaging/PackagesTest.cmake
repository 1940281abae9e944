# Makes both Debian packages from the build, unpacks them into a scratch root (dpkg -x) and runs
# the program and the service from there. Arguments: BUILD_DIR, WORK_DIR, VERSION.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/root")

execute_process(COMMAND cpack -G DEB -B "${WORK_DIR}/out" --config "${BUILD_DIR}/CPackConfig.cmake"
                WORKING_DIRECTORY "${BUILD_DIR}" RESULT_VARIABLE result OUTPUT_VARIABLE out
                ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${out}")
endif()

foreach(package lumarin lumarin-service)
  file(GLOB deb "${WORK_DIR}/out/${package}_*.deb")
  list(LENGTH deb count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one ${package} package, found: ${deb}")
  endif()
  execute_process(COMMAND dpkg-deb -f "${deb}" Package Version Depends OUTPUT_VARIABLE fields
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT fields MATCHES "Package: ${package}\n"
     OR NOT fields MATCHES "Version: ${VERSION}-" OR NOT fields MATCHES "libc6")
    message(FATAL_ERROR "${package}: unexpected control fields:\n${fields}")
  endif()
  execute_process(COMMAND dpkg -x "${deb}" "${WORK_DIR}/root" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg -x ${deb} failed")
  endif()
endforeach()

set(root "${WORK_DIR}/root")
foreach(file usr/bin/lumarin usr/bin/lumarin-service usr/share/applications/lumarin.desktop
             usr/share/icons/hicolor/scalable/apps/lumarin.svg
             usr/lib/systemd/system/lumarin-service.service)
  if(NOT EXISTS "${root}/${file}")
    message(FATAL_ERROR "the packages lack ${file}")
  endif()
endforeach()

file(READ "${root}/usr/share/applications/lumarin.desktop" desktop)
if(NOT desktop MATCHES "MimeType=x-scheme-handler/lumarin;" OR NOT desktop MATCHES "Exec=lumarin --desktop %u")
  message(FATAL_ERROR "the desktop entry does not hand lumarin: links to the program:\n${desktop}")
endif()

execute_process(COMMAND "${root}/usr/bin/lumarin" --version OUTPUT_VARIABLE version
                RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT version MATCHES "^Lumarin ${VERSION} ")
  message(FATAL_ERROR "lumarin --version from the package said: ${version}")
endif()

execute_process(COMMAND "${root}/usr/bin/lumarin-service" admin --db "${WORK_DIR}/service.db"
                        accounts
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lumarin-service from the package failed:\n${out}")
endif()
message(STATUS "packages: ${version}")
