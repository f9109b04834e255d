# Installing and packaging: `cmake --install` puts the two programs and their desktop
# files under GNU directories; `--target package` makes the Debian package from the
# linux preset and the zip from the windows preset (CPack).
include(GNUInstallDirs)

set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(_pkg_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_pkg_out})
# Every installed folder rwxr-xr-x whatever the umask of whoever builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_PACKAGE_NAME zarvelin)
set(CPACK_PACKAGE_VENDOR "The Zarvelin developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio-visual brain-wave stimulation")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://zarvelin.org/")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Only what is installed under this component goes into a package: the programs and
# their files, never a test executable or a library's own install rules.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};zarvelin;/")

if(WIN32)
  # The zip: the two programs, the licence and a README, with Windows line ends, at the
  # top of the archive.
  foreach(_text LICENSE packaging/windows/README.txt)
    file(READ ${CMAKE_SOURCE_DIR}/${_text} _body)
    string(REPLACE "\r\n" "\n" _body "${_body}")
    string(REPLACE "\n" "\r\n" _body "${_body}")
    get_filename_component(_name ${_text} NAME_WE)
    file(WRITE ${_pkg_out}/${_name}.txt "${_body}")
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${CMAKE_SOURCE_DIR}/LICENSE ${_pkg}/windows/README.txt)
  set(_programs zarvelin-render)
  if(TARGET zarvelin)
    list(APPEND _programs zarvelin)
  endif()
  install(TARGETS ${_programs} RUNTIME DESTINATION . COMPONENT zarvelin)
  install(FILES ${_pkg_out}/LICENSE.txt ${_pkg_out}/README.txt DESTINATION . COMPONENT zarvelin)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${ZARVELIN_ZIP_NAME})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(_programs zarvelin-render)
  if(TARGET zarvelin)
    list(APPEND _programs zarvelin)
  endif()
  install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT zarvelin)
  # A stripped install also loses the compilers' version notes (.comment), as Debian's
  # own packages do.
  foreach(_program ${_programs})
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${_program}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT zarvelin)
  endforeach()

  set(_id org.zarvelin.Zarvelin)
  install(FILES ${_pkg}/linux/${_id}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT zarvelin)
  install(FILES ${_pkg}/linux/${_id}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT zarvelin)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/icons/hicolor
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons COMPONENT zarvelin)

  # Manual pages and the Debian changelog go in compressed, as Debian wants them:
  # gzip -n leaves out the name and time, so the same bytes come out every build.
  set(_gz)
  foreach(_src man/zarvelin.1 man/zarvelin-render.1 debian/changelog)
    get_filename_component(_name ${_src} NAME)
    add_custom_command(OUTPUT ${_pkg_out}/${_name}.gz
                       COMMAND gzip -9nc ${_pkg}/${_src} > ${_pkg_out}/${_name}.gz
                       DEPENDS ${_pkg}/${_src} VERBATIM)
    list(APPEND _gz ${_pkg_out}/${_name}.gz)
  endforeach()
  add_custom_target(zarvelin_packaging_files ALL DEPENDS ${_gz})
  install(FILES ${_pkg_out}/zarvelin.1.gz ${_pkg_out}/zarvelin-render.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT zarvelin)
  set(_doc ${CMAKE_INSTALL_DATADIR}/doc/zarvelin)
  # The licence also stands on its own beside the README, as users look for it there;
  # Debian's tools look in the copyright file.
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
                ${_pkg}/debian/copyright ${_pkg_out}/changelog.gz
          DESTINATION ${_doc} COMPONENT zarvelin)
  install(FILES ${_pkg}/debian/lintian-overrides RENAME zarvelin
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT zarvelin)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME zarvelin)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)          # zarvelin_1.0.0_amd64.deb
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The one dependency the binaries cannot tell: the exact Qt behind its private
  # interface (ui/linux/CMakeLists.txt).
  if(ZARVELIN_QT_ABI_DEPENDS)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${ZARVELIN_QT_ABI_DEPENDS}")
  endif()
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Zarvelin developers <packages@zarvelin.org>")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zarvelin.org/")
  # The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the extended text.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Zarvelin plays a stimulation at a frequency from 0.10 to 50.00 Hz: binaural
beats, beeps or white-noise modulation, and a full-screen stroboscope pulsing
in grey. zarvelin-render writes a session's sound to a WAV file.
.
Warning: the stroboscope flashes the whole screen. Flashing light at these
frequencies can trigger seizures in people with photosensitive epilepsy. The
tones are full scale: start with the volume low.
.
MIT licence.")
endif()

include(CPack)
