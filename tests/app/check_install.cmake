# Installs the build into a scratch prefix and checks that every file a desktop needs arrived.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
    RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(path
        bin/orvinta
        bin/orvinta-scan
        share/man/man1/orvinta-scan.1
        share/applications/org.orvinta.Orvinta.desktop
        share/metainfo/org.orvinta.Orvinta.metainfo.xml
        share/icons/hicolor/scalable/apps/org.orvinta.Orvinta.svg)
    if(NOT EXISTS ${PREFIX}/${path})
        message(FATAL_ERROR "missing after install: ${path}")
    endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
