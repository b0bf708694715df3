# What the optional parts of the build need, found once here so that a Mac
# with only Xcode's command-line tools and CMake builds the addon and corvane,
# and the tests come along wherever their libraries are.
#
# PELMORA_BUILD_TESTS: ON    the tests must be built; a missing library is an error
#                      OFF   never
#                      AUTO  when every library they need is found
# Sets PELMORA_WITH_TESTS and PELMORA_WITH_SIM, and caches both the answer
# (PELMORA_TESTS_BUILT) and what is missing (PELMORA_TESTS_MISSING), which
# scripts/test.js reads to say what to install.

# The simulated desktop's text services: ICU's headers and the folder of its
# library, which is opened at run time.
if(APPLE AND NOT CMAKE_CROSSCOMPILING AND NOT ICU_ROOT AND NOT DEFINED ENV{ICU_ROOT})
  # Homebrew keeps icu4c out of the default paths.
  file(GLOB pelmora_brew_icu /opt/homebrew/opt/icu4c* /usr/local/opt/icu4c*)
  if(pelmora_brew_icu)
    list(GET pelmora_brew_icu 0 ICU_ROOT)
  endif()
endif()
find_package(ICU QUIET COMPONENTS uc)
if(ICU_FOUND)
  set(PELMORA_ICU_INCLUDE_DIRS ${ICU_INCLUDE_DIRS})
  get_filename_component(PELMORA_ICU_LIBDIR "${ICU_UC_LIBRARY}" DIRECTORY)
endif()

if(APPLE)
  set(pelmora_get_gtest "brew install googletest")
  set(pelmora_get_icu "brew install icu4c")
else()
  set(pelmora_get_gtest "Debian: apt-get install libgtest-dev libgmock-dev")
  set(pelmora_get_icu "Debian: apt-get install libicu-dev")
endif()
set(pelmora_missing "")
if(PELMORA_BUILD_TESTS)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    list(APPEND pelmora_missing "GoogleTest (${pelmora_get_gtest})")
  endif()
  if(NOT ICU_FOUND)
    list(APPEND pelmora_missing "ICU, for the simulated desktop (${pelmora_get_icu})")
  endif()
endif()

string(TOUPPER "${PELMORA_BUILD_TESTS}" pelmora_tests_mode)
set(PELMORA_WITH_TESTS OFF)
if(pelmora_tests_mode STREQUAL "AUTO")
  if(pelmora_missing)
    list(JOIN pelmora_missing "\n  " text)
    message(STATUS "Tests, control module and benchmarks not built; they need:\n  ${text}")
  else()
    set(PELMORA_WITH_TESTS ON)
  endif()
elseif(PELMORA_BUILD_TESTS)
  if(pelmora_missing)
    list(JOIN pelmora_missing "\n  " text)
    message(FATAL_ERROR "PELMORA_BUILD_TESTS is ${PELMORA_BUILD_TESTS}, but the tests need:\n  ${text}")
  endif()
  set(PELMORA_WITH_TESTS ON)
endif()
set(PELMORA_TESTS_MISSING "${pelmora_missing}" CACHE INTERNAL "What the tests lack, for scripts/test.js")
set(PELMORA_TESTS_BUILT ${PELMORA_WITH_TESTS} CACHE INTERNAL "Whether this build has the tests, for scripts/test.js")

# The simulated desktop: the platform of the tests and the fuzzers, and of the
# build tests/sim drives.
set(PELMORA_WITH_SIM OFF)
if(PELMORA_PLATFORM STREQUAL "sim" OR PELMORA_WITH_TESTS OR PELMORA_FUZZ)
  set(PELMORA_WITH_SIM ON)
  if(NOT ICU_FOUND)
    message(FATAL_ERROR "The simulated desktop needs ICU's headers and library (${pelmora_get_icu})")
  endif()
endif()

# The Linux desktop: the headers of AT-SPI, GIO and XCB (their libraries are
# opened at run time), and ICU's for the text services.
if(PELMORA_PLATFORM STREQUAL "linux")
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(PELMORA_DESKTOP QUIET atspi-2 gio-unix-2.0 xcb)
  endif()
  if(NOT PELMORA_DESKTOP_FOUND)
    message(FATAL_ERROR "The Linux desktop build needs the headers of AT-SPI, GIO and XCB (Debian: apt-get install pkg-config libatspi2.0-dev libglib2.0-dev libxcb1-dev)")
  endif()
  if(NOT ICU_FOUND)
    message(FATAL_ERROR "The Linux desktop build needs ICU's headers (${pelmora_get_icu})")
  endif()
endif()
