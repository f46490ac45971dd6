# Debian packages of an installed build, made by `cpack` in the build folder
# (scripts/check-packages.sh builds, installs and checks them):
#
#   libqnstd<SOVERSION>  the shared library: the versioned file and its SONAME link
#   libqnstd-dev         the public headers, the unversioned link and the CMake
#                        package (find_package(QNStandardClasses))
#   qnstd-tools          the qn command-line tool
#
# Each package is one install component (Runtime, Development, Tools); an
# install() rule without one of these components is left out of every package.
# The packages install under /usr, so the library's folder is Debian's multiarch
# one (/usr/lib/<triplet>) only when the build was configured with
# CMAKE_INSTALL_PREFIX=/usr: GNUInstallDirs picks the folder from the prefix.

if(NOT CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$")
    message(STATUS "Debian packages will install the library in /usr/${CMAKE_INSTALL_LIBDIR}; "
        "configure with -DCMAKE_INSTALL_PREFIX=/usr for the multiarch folder")
endif()

set(_qn_runtime_package libqnstd${PROJECT_VERSION_MAJOR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qnstd)
set(CPACK_PACKAGE_VENDOR "QNStandardClasses")
set(CPACK_PACKAGE_CONTACT "QNStandardClasses maintainers <maintainers@qnstd.invalid>")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# RelWithDebInfo builds carry their debug sections; a deployed package does not.
set(CPACK_STRIP_FILES ON)

set(CPACK_COMPONENTS_ALL Runtime Development Tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the Debian packages of the libraries each binary loads
# (ICU, libxml2, SQLite, curl, OpenSSL, ...). The tool also loads libqnstd,
# which is in no installed package yet: the build folder lets dpkg-shlibdeps
# find it, and the tool's Depends names its package explicitly.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
# The library's package gets a shlibs file, so that packages built against it
# depend on it (exact version: no ABI promise before 1.0), and ldconfig runs
# when it is installed or removed.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${_qn_runtime_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "QNStandardClasses run-time library
The run-time library of standard classes that generated applications link
against: strings, decimals and dates, collections and records with their
JSON and XML forms, business components, offline SQLite data access, files,
HTTP, cryptography, expressions, regular expressions, geography and images.")

# Exact versions between the packages: the headers and the CMake package
# describe one build of the library, and the tool uses its internals' ABI.
set(_qn_same_runtime "${_qn_runtime_package} (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libqnstd-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The public headers include only the C++ standard library's headers and
# threads; an application needs a C++20 standard library besides the runtime.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "${_qn_same_runtime}, libstdc++-12-dev | libstdc++-dev")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "QNStandardClasses run-time library (development files)
The public headers (qn/...), the libqnstd.so link and the CMake package:
find_package(QNStandardClasses) gives the target QN::qnstd.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME qnstd-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${_qn_same_runtime}")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "QNStandardClasses command-line tool
The qn tool runs the library's operations from the shell (strings,
decimals, dates, HTTP, XML and JSON, encryption, expressions, geography,
images, records, SQL) and its demo on an application bundle.")

include(CPack)
