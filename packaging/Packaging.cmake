# What `cmake --install` puts where, and the Debian package made of it (scripts/package).
# Included from the root CMakeLists.txt once every target exists; it names targets, not the
# folders they are built in.
include(GNUInstallDirs)

set(LUMIDEX_PACKAGE_NAME lumidex)
set(LUMIDEX_MAINTAINER "Lumidex maintainers <maintainers@users.noreply.c-seed-86e72898.example>")
set(LUMIDEX_APPSTREAM_ID com.kelvora.lumidex)
set(LUMIDEX_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${LUMIDEX_PACKAGE_NAME})
set(packaging_out ${CMAKE_CURRENT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_out})

# Programs
install(TARGETS lumidex-console RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(manual_programs lumidex-console)
if(TARGET lumidex)
  install(TARGETS lumidex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND manual_programs lumidex)

  # Desktop integration: the menus find the entry and its icon in the usual places, software
  # centres the metadata. The icon is installed at every size it is drawn at.
  install(FILES ${PROJECT_SOURCE_DIR}/res/lumidex.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  file(GLOB icons ${PROJECT_SOURCE_DIR}/res/icons/lumidex-*.png)
  # lumidex-N@2x.png is size N drawn for screens that scale by 2: hicolor's NxN@2.
  foreach(icon IN LISTS icons)
    string(REGEX REPLACE ".*/lumidex-([0-9]+)(@2x)?\\.png$" "\\1" size ${icon})
    string(REGEX MATCH "@2x\\.png$" scaled ${icon})
    set(folder ${size}x${size})
    if(scaled)
      string(APPEND folder "@2")
    endif()
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${folder}/apps
            RENAME lumidex.png)
  endforeach()

  # Dates honour SOURCE_DATE_EPOCH, which scripts/package sets from the last commit.
  string(TIMESTAMP LUMIDEX_RELEASE_DATE "%Y-%m-%d" UTC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${LUMIDEX_APPSTREAM_ID}.metainfo.xml.in
                 ${packaging_out}/${LUMIDEX_APPSTREAM_ID}.metainfo.xml @ONLY)
  install(FILES ${packaging_out}/${LUMIDEX_APPSTREAM_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Shell completion: one script for both programs, found by bash-completion under each name.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lumidex-console.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lumidex-console)
if(TARGET lumidex)
  file(CREATE_LINK lumidex-console ${packaging_out}/lumidex SYMBOLIC)
  install(FILES ${packaging_out}/lumidex
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

# Manual pages, made from each program's --help and --version with the sections those cannot
# know added from packaging/man/. The programs print their help without a display. A
# sanitizer build makes none: it is never installed.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
set(manual_outputs)
if(HELP2MAN AND GZIP AND LUMIDEX_SANITIZE STREQUAL "none")
  foreach(program IN LISTS manual_programs)
    set(page ${packaging_out}/${program}.1)
    set(includes ${CMAKE_CURRENT_LIST_DIR}/man/common.h2m
                 ${CMAKE_CURRENT_LIST_DIR}/man/${program}.h2m)
    add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                ${HELP2MAN} --no-info --locale=C.UTF-8 --section=1 --manual=Lumidex
                "--source=Lumidex ${PROJECT_VERSION}"
                --include=${CMAKE_CURRENT_LIST_DIR}/man/${program}.h2m
                --include=${CMAKE_CURRENT_LIST_DIR}/man/common.h2m
                --output=${page} $<TARGET_FILE:${program}>
        COMMAND ${GZIP} -9nf ${page}
        DEPENDS ${program} ${includes}
        COMMENT "Manual page ${program}(1)"
        VERBATIM)
    list(APPEND manual_outputs ${page}.gz)
  endforeach()
  install(FILES ${manual_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "No manual pages (help2man or gzip missing, or a sanitizer build)")
endif()

# Documents: Debian compresses all but the copyright file; the changelog of a package built
# from its own source tree (a native package) is changelog.gz.
string(TIMESTAMP LUMIDEX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${packaging_out}/changelog @ONLY)
set(doc_outputs ${packaging_out}/changelog.gz ${packaging_out}/README.md.gz)
# Of the documents README points to, those about the installed programs go beside it, in the
# docs/ its links name; the lab, fuzzing, benchmarks and the like are the source tree's.
set(program_docs json.md lumidex-result.schema.json mends.md probing.md problems.md)
file(MAKE_DIRECTORY ${packaging_out}/docs)
set(program_doc_outputs)
set(program_doc_commands)
foreach(doc ${program_docs})
  list(APPEND program_doc_outputs ${packaging_out}/docs/${doc}.gz)
  list(APPEND program_doc_commands
       COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/docs/${doc} > ${packaging_out}/docs/${doc}.gz)
endforeach()
list(TRANSFORM program_docs PREPEND ${PROJECT_SOURCE_DIR}/docs/)
if(GZIP)
  add_custom_command(
      OUTPUT ${doc_outputs} ${program_doc_outputs}
      COMMAND ${GZIP} -9nc ${packaging_out}/changelog > ${packaging_out}/changelog.gz
      COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/README.md > ${packaging_out}/README.md.gz
      ${program_doc_commands}
      DEPENDS ${packaging_out}/changelog ${PROJECT_SOURCE_DIR}/README.md ${program_docs}
      VERBATIM)
  install(FILES ${doc_outputs} DESTINATION ${LUMIDEX_DOCDIR})
  install(FILES ${program_doc_outputs} DESTINATION ${LUMIDEX_DOCDIR}/docs)
  list(APPEND doc_outputs ${program_doc_outputs})
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${LUMIDEX_DOCDIR})
add_custom_target(lumidex_install_files ALL DEPENDS ${manual_outputs} ${doc_outputs})

# The Debian package: cpack -G DEB, driven by scripts/package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${LUMIDEX_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${LUMIDEX_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network diagnostics for the Kelvora streaming client")
file(READ ${CMAKE_CURRENT_LIST_DIR}/description.txt CPACK_DEBIAN_PACKAGE_DESCRIPTION)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${LUMIDEX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.kelvora.com/")
# Libraries come from the binaries (dpkg-shlibdeps); what is not linked is named here: the CJK
# face the dialogs' font is replaced by, and xdg-open for the help page and the log.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-zenhei, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
