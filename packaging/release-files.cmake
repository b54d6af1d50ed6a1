# What goes into the release files beside the program, made from the project's version: the
# manual page, the players' readmes (Windows, Linux), the Windows resource and manifest, the
# Debian package's control files. Included by the top CMakeLists.txt.

# The default names the developers at an address of the reserved top-level domain .invalid
# (RFC 6761), which no mail can reach: whoever publishes the package sets their own.
set(SK_BACKUP_MAINTAINER "sk-backup developers <developers@sk-backup.invalid>" CACHE STRING
    "Maintainer of the Debian package, as \"Name <address>\"")
set(SK_BACKUP_SUMMARY "back up and restore the settings files of Skulvane")
set(SK_BACKUP_DESCRIPTION "sk-backup keeps a safety copy of the three settings files of the game \
modification Skulvane (SkAux.ini, SkulvaneUser.ini and SkLoadouts.ini in the game's System \
folder) and puts them back on request. Started in the game's base folder, it shows a numbered \
menu: back up or restore all three files at once, or one at a time.")
# The description as a Debian control file has it: lines of at most 72 bytes, each after a space.
string(REPLACE " " ";" SK_BACKUP_WORDS "${SK_BACKUP_DESCRIPTION}")
set(SK_BACKUP_LINE "")
set(SK_BACKUP_DEB_DESCRIPTION "")
foreach(word IN LISTS SK_BACKUP_WORDS)
  string(LENGTH "${SK_BACKUP_LINE} ${word}" length)
  if(length GREATER 73)
    string(APPEND SK_BACKUP_DEB_DESCRIPTION "${SK_BACKUP_LINE}\n")
    set(SK_BACKUP_LINE "")
  endif()
  string(APPEND SK_BACKUP_LINE " ${word}")
endforeach()
string(APPEND SK_BACKUP_DEB_DESCRIPTION "${SK_BACKUP_LINE}")
# Four numbers for Windows' version fields.
set(SK_BACKUP_VERSION_COMMA "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},0,0")
set(SK_BACKUP_VERSION_DOTS "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0")
# Dates of the last commit when SOURCE_DATE_EPOCH is set (packaging/release.sh sets it), else
# of today.
string(TIMESTAMP SK_BACKUP_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP SK_BACKUP_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(SK_BACKUP_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(SK_BACKUP_MAN_PAGE ${PROJECT_BINARY_DIR}/sk-backup.1)
configure_file(${SK_BACKUP_PACKAGING}/sk-backup.1.in ${SK_BACKUP_MAN_PAGE} @ONLY)
if(WIN32)
  # Text files for Notepad: CR LF line ends, a .txt name.
  set(SK_BACKUP_PLAYER_DOCS ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt
      ${PROJECT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
  configure_file(${SK_BACKUP_PACKAGING}/windows/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES THIRD-PARTY-NOTICES.txt @ONLY
                 NEWLINE_STYLE CRLF)
  configure_file(${SK_BACKUP_PACKAGING}/windows/sk-backup.manifest.in sk-backup.manifest @ONLY)
  set(SK_BACKUP_MANIFEST ${PROJECT_BINARY_DIR}/sk-backup.manifest)
  set(SK_BACKUP_RESOURCE ${PROJECT_BINARY_DIR}/sk-backup.rc)
  configure_file(${SK_BACKUP_PACKAGING}/windows/sk-backup.rc.in ${SK_BACKUP_RESOURCE} @ONLY)
  set_source_files_properties(${SK_BACKUP_RESOURCE} PROPERTIES OBJECT_DEPENDS
                              "${SK_BACKUP_MANIFEST};${SK_BACKUP_PACKAGING}/windows/sk-backup.ico")
else()
  # The players' guide, installed where the developers' README would be; packaging/release.sh
  # also puts it at the top of the .tar.gz.
  set(SK_BACKUP_PLAYER_DOCS ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_SOURCE_DIR}/LICENSE
      ${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES)
  configure_file(${SK_BACKUP_PACKAGING}/linux/README.txt.in README.txt @ONLY)
  # Taken by packaging/release.sh into the Debian package.
  configure_file(${SK_BACKUP_PACKAGING}/debian/control.in debian/control @ONLY)
  configure_file(${SK_BACKUP_PACKAGING}/debian/changelog.in debian/changelog @ONLY)
endif()
