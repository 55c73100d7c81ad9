# The .deb of the program: `cmake --build build --target package` (or
# scripts/package). What `cmake --install` puts in place goes into it; the
# stand-ins in tools/ have no install rules and stay out. Runtime
# dependencies come from the shared libraries the binaries actually link
# (dpkg-shlibdeps).

# Debian's documentation of the package: the copyright file, and the
# changelog, compressed as Debian policy wants (-9, no name or time stamp).
set(orv_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/orv-dashboard)
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog orv_changelog_head LIMIT_COUNT 1)
if(NOT orv_changelog_head MATCHES "^orv-dashboard \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog starts with '${orv_changelog_head}', not version ${PROJECT_VERSION}")
endif()
find_program(ORV_GZIP gzip REQUIRED)
find_program(ORV_HELP2MAN help2man REQUIRED)
set(orv_package_dir ${CMAKE_BINARY_DIR}/package-files)
add_custom_command(OUTPUT ${orv_package_dir}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${orv_package_dir}
  COMMAND ${ORV_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${orv_package_dir}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
  VERBATIM)

# Manual pages made from the programs' own help, so they never tell
# another story than the programs do. The debug log's folder is printed
# for a home of "~" rather than the builder's.
set(orv_man_pages)
foreach(program orv-dashboard orv-reg)
  set(page ${orv_package_dir}/${program}.1)
  set(help_option --help)
  if(program STREQUAL "orv-reg")
    set(help_option /?)
  endif()
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${orv_package_dir}
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY XDG_STATE_HOME=~/.local/state
      ${ORV_HELP2MAN} --no-info --no-discard-stderr --help-option=${help_option}
      --version-string=${PROJECT_VERSION} --include=${PROJECT_SOURCE_DIR}/packaging/man/${program}.h2m
      --output=${page} $<TARGET_FILE:${program}>
    COMMAND ${ORV_GZIP} -9 -n -f ${page}
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/man/${program}.h2m
    VERBATIM)
  list(APPEND orv_man_pages ${page}.gz)
endforeach()
add_custom_target(orv_package_files ALL DEPENDS ${orv_package_dir}/changelog.gz ${orv_man_pages})

install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${orv_package_dir}/changelog.gz
  DESTINATION ${orv_doc_dir})
install(FILES ${orv_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orv-dashboard)
set(CPACK_PACKAGE_VENDOR "ORV Software")
set(CPACK_PACKAGE_CONTACT "ORV Software <support@orvsoftware.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Manage ORV component products for the Delphi IDE")
# One line per line of the control file's extended description, each
# within the 80 columns lintian allows.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "ORV Dashboard shows the vendor's dashboard in its own window and does the"
  "local work for it: downloads, classic installs and updates, batches for the"
  "ORV Kitwright package manager, and the products of your account."
  ""
  "The package also holds orv-reg, which reads and writes the program's"
  "settings like reg.exe.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.orvsoftware.com")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Links and files open with the desktop's handlers.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
