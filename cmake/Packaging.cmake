# Translations, desktop integration and the Debian package.
# Included at the end of the top-level CMakeLists.txt, after the program's own rules.

include(GNUInstallDirs)

set(FARLANDER_SOURCE_DATA "${PROJECT_SOURCE_DIR}/data")

# ---- translations ----
# Every po/<lang>.po becomes <build>/locale/<lang>/LC_MESSAGES/farlander.mo, where the
# program finds it beside its executable, and is installed under the locale folder.
find_program(FARLANDER_MSGFMT msgfmt REQUIRED)
file(GLOB FARLANDER_CATALOGS CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/po/*.po")
set(FARLANDER_COMPILED_CATALOGS "")
foreach(catalog IN LISTS FARLANDER_CATALOGS)
  get_filename_component(lang "${catalog}" NAME_WE)
  set(folder "${CMAKE_BINARY_DIR}/locale/${lang}/LC_MESSAGES")
  add_custom_command(
    OUTPUT "${folder}/farlander.mo"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${folder}"
    COMMAND "${FARLANDER_MSGFMT}" --check -o "${folder}/farlander.mo" "${catalog}"
    DEPENDS "${catalog}"
    COMMENT "Compiling the ${lang} catalog"
    VERBATIM)
  list(APPEND FARLANDER_COMPILED_CATALOGS "${folder}/farlander.mo")
  install(FILES "${folder}/farlander.mo" DESTINATION "${CMAKE_INSTALL_LOCALEDIR}/${lang}/LC_MESSAGES")
endforeach()
add_custom_target(farlander_catalogs ALL DEPENDS ${FARLANDER_COMPILED_CATALOGS})

# ---- desktop integration ----
install(FILES "${FARLANDER_SOURCE_DATA}/icons/farlander.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(DIRECTORY "${FARLANDER_SOURCE_DATA}/icons/hicolor/"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor"
        FILES_MATCHING PATTERN "*.png")
install(FILES "${FARLANDER_SOURCE_DATA}/space.farlander.Farlander.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${FARLANDER_SOURCE_DATA}/farlander.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
# The help document(s), when there are any.
file(GLOB FARLANDER_HELP_FILES CONFIGURE_DEPENDS "${FARLANDER_SOURCE_DATA}/*.md")
if(FARLANDER_HELP_FILES)
  install(FILES ${FARLANDER_HELP_FILES} DESTINATION "${CMAKE_INSTALL_DATADIR}/farlander")
endif()

# ---- the Debian package: cpack -G DEB ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME farlander)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Farlander developers")
set(CPACK_PACKAGE_CONTACT "The Farlander developers <developers@farlander.space>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "graphical browser for Gemini, Spartan, Gopher, Finger and Nex")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://farlander.space/")
# The program looks for its catalogs and data under the prefix it was built for, so
# the package installs there too (scripts/package.sh builds for /usr).
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME farlander)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Farlander developers <developers@farlander.space>")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://farlander.space/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, fonts-dejavu-core, fonts-noto-cjk, fonts-noto-color-emoji")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description; dpkg shows CPACK_PACKAGE_DESCRIPTION_SUMMARY as its first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Farlander is a desktop browser for the small internet. It fetches and shows\n"
  "documents served over Gemini (with TLS and client certificates), Spartan,\n"
  "Gopher, Finger and Nex, follows their links, and hands web and mail links\n"
  "to the desktop.\n"
  ".\n"
  "It keeps Back/Forward history with reading positions, a visited list, a page\n"
  "cache, bookmarks and client identities, answers input prompts and uploads,\n"
  "and has colour themes, a full-screen mode and a command-line page dump.")
string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})

include(CPack)
