# The Debian package: `cmake --workflow --preset deb` builds it as
# build-deb/users_<version>_<arch>.deb.
#
# Debian's coreutils has /usr/bin/users and its page users(1), which list
# logged-in users. This administrator's tool goes to /usr/sbin instead, which
# root's PATH puts before /usr/bin, so that a bare `users` finds it for root
# (and then uses ./users.dat); its page is users(8). Nothing of coreutils is
# replaced.
#
# Four packages come out, one per install component: users (the program),
# libusers1 (the library), libusers-dev (header, .so link, pkg-config file)
# and libpam-users (the PAM module).

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME users)

install(TARGETS users RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
# Stripped as Debian strips programs: no symbols, no compiler notes.
install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                                      --remove-section=.comment --remove-section=.note
                                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}/users\"
                              COMMAND_ERROR_IS_FATAL ANY)")

# The manual page, its header moved to section 8, and the changelog, both
# compressed as Debian keeps them (-n: no time stamp, so that a rebuild
# gives the same bytes).
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/man/users.1 ${PROJECT_SOURCE_DIR}/packaging/changelog)
file(READ ${PROJECT_SOURCE_DIR}/man/users.1 page)
string(REGEX REPLACE "^\\.TH USERS 1 ([^\n]*) \"User Commands\"\n"
       ".TH USERS 8 \\1 \"System Administration\"\n" page "${page}")
if(NOT page MATCHES "^\\.TH USERS 8 ")
  message(FATAL_ERROR "man/users.1 does not start with the .TH line this file expects")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/users.8 "${page}")

# users-import goes beside it, stripped the same way; its page goes to
# section 8 too, and so do its references to users.
install(TARGETS users-import RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                                      --remove-section=.comment --remove-section=.note
                                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}/users-import\"
                              COMMAND_ERROR_IS_FATAL ANY)")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/man/users-import.1)
file(READ ${PROJECT_SOURCE_DIR}/man/users-import.1 page)
string(REGEX REPLACE "^\\.TH USERS-IMPORT 1 ([^\n]*) \"User Commands\"\n"
       ".TH USERS-IMPORT 8 \\1 \"System Administration\"\n" page "${page}")
string(REPLACE "\n.BR users (1)" "\n.BR users (8)" page "${page}")
if(NOT page MATCHES "^\\.TH USERS-IMPORT 8 " OR page MATCHES "users \\(1\\)")
  message(FATAL_ERROR "man/users-import.1 does not have the .TH line and references this file "
                      "expects")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/users-import.8 "${page}")

file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog heading LIMIT_COUNT 1)
if(NOT heading MATCHES "^users \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog has no entry for version ${PROJECT_VERSION} on top")
endif()

foreach(file ${PROJECT_BINARY_DIR}/users.8 ${PROJECT_BINARY_DIR}/users-import.8
             ${PROJECT_SOURCE_DIR}/packaging/changelog)
  get_filename_component(name ${file} NAME)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${name}.gz
                     COMMAND sh -c "gzip -9n <\"$0\" >\"$1\"" ${file} ${PROJECT_BINARY_DIR}/${name}.gz
                     DEPENDS ${file} VERBATIM)
  list(APPEND compressed ${PROJECT_BINARY_DIR}/${name}.gz)
endforeach()
add_custom_target(debian_documents ALL DEPENDS ${compressed})

set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/users)
install(FILES ${PROJECT_BINARY_DIR}/users.8.gz ${PROJECT_BINARY_DIR}/users-import.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${PROJECT_BINARY_DIR}/changelog.gz packaging/copyright DESTINATION ${doc_dir})

# The library and the module, stripped as the program is; every package
# has its own copyright and changelog.
set(strip "${CMAKE_STRIP}" --strip-unneeded --remove-section=.comment --remove-section=.note)
set(installed "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}")
install(CODE "execute_process(COMMAND ${strip} \"${installed}/$<TARGET_FILE_NAME:libusers>\"
                              COMMAND_ERROR_IS_FATAL ANY)" COMPONENT library)
install(CODE "execute_process(COMMAND ${strip} \"${installed}/security/pam_users.so\"
                              COMMAND_ERROR_IS_FATAL ANY)" COMPONENT pam)
foreach(component library development pam)
  set(package_of_library libusers1)
  set(package_of_development libusers-dev)
  set(package_of_pam libpam-users)
  install(FILES ${PROJECT_BINARY_DIR}/changelog.gz packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package_of_${component}} COMPONENT ${component})
endforeach()
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME users)

find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT DPKG_SHLIBDEPS)
  message(FATAL_ERROR "the packages' dependencies need dpkg-shlibdeps: install dpkg-dev")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL users library development pam)
set(CPACK_PACKAGE_NAME users)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The users developers <users@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Each package's description begins with its own summary line.
set(users_summary "add, remove and check users of a password file")
set(CPACK_PACKAGE_DESCRIPTION
    "users keeps a text file of user records, each a user name, a salt and a\n"
    "password digest. It adds a user or replaces a user's password, removes a\n"
    "user, and checks a user name and password against the file, printing one\n"
    "result line and exiting with 0 for success and 1 for any failure.\n"
    "\n"
    "Saves are atomic and locked against concurrent runs. The program is\n"
    "installed as /usr/sbin/users, beside the unrelated /usr/bin/users of\n"
    "coreutils, and root's PATH finds this one first.\n"
    "\n"
    "users-import applies a list of users from standard input in one run,\n"
    "all of it or nothing.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_USERS_PACKAGE_NAME users)
set(CPACK_DEBIAN_USERS_DESCRIPTION
    "${users_summary}\n${CPACK_PACKAGE_DESCRIPTION}")

set(version_depends "(= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libusers1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# ldconfig runs from a trigger, not from maintainer scripts, as Debian wants;
# scripts of our own keep CPack from writing ones that call it.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/libusers1/triggers
    ${PROJECT_SOURCE_DIR}/packaging/libusers1/postinst
    ${PROJECT_SOURCE_DIR}/packaging/libusers1/postrm)
install(FILES packaging/libusers1/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME libusers1 COMPONENT library)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
    "check passwords against a users password file - library\n"
    "libusers lets a service check user names and passwords against a\n"
    "password file kept by the users program: it loads the file once, looks\n"
    "users up through an index and reloads the file when it changed.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libusers-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libusers1 ${version_depends}")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "check passwords against a users password file - development files\n"
    "The C header, the link to the shared library and the pkg-config file\n"
    "for building services on libusers.")
set(CPACK_DEBIAN_PAM_PACKAGE_NAME libpam-users)
set(CPACK_DEBIAN_PAM_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PAM_PACKAGE_SHLIBDEPS ON)
# The module has the library's code linked in, so it needs no libusers1;
# dpkg-shlibdeps names libc and libpam.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/library)
set(CPACK_DEBIAN_PAM_DESCRIPTION
    "PAM module that authenticates against a users password file\n"
    "pam_users lets login, su, sshd, mail and FTP servers, and any other\n"
    "PAM-aware program, authenticate users kept in a password file by the\n"
    "users program: auth line with file=PATH, account line likewise.")
string(JOIN "" CPACK_DEBIAN_LIBRARY_DESCRIPTION ${CPACK_DEBIAN_LIBRARY_DESCRIPTION})
string(JOIN "" CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION ${CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION})
string(JOIN "" CPACK_DEBIAN_PAM_DESCRIPTION ${CPACK_DEBIAN_PAM_DESCRIPTION})
include(CPack)
