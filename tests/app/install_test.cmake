file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
    RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(file bin/corvex share/doc/corvex/corvex.HTM share/applications/corvex.desktop
        share/icons/hicolor/scalable/apps/corvex.svg share/icons/hicolor/48x48/apps/corvex.png
        share/icons/hicolor/256x256/apps/corvex.png share/metainfo/org.corvex.corvex.metainfo.xml
        share/man/man1/corvex.1)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "${file} is not installed")
    endif()
endforeach()
find_program(validate desktop-file-validate)
if(validate)
    execute_process(COMMAND "${validate}" "${PREFIX}/share/applications/corvex.desktop"
        RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "the desktop entry does not validate")
    endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
