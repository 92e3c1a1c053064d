# Windows build (MinGW-w64, cross or native): everything links statically, so vemtora.exe
# runs from its folder with no DLL beside it. Included from CMakeLists.txt before the
# packages are looked up; the part that touches the found targets runs at the end of the
# top-level CMakeLists.txt.

# The dependencies' prefix is named for how they were built: a build folder configured
# against an earlier one looks every library up again in the new one, instead of linking
# what its cache still names in the old (where ICU's data library, say, had no data).
set(_seen "$CACHE{VEMTORA_WINDOWS_PREFIX_SEEN}")
if(NOT DEFINED CACHE{VEMTORA_WINDOWS_PREFIX_SEEN} AND DEFINED CACHE{ICU_INCLUDE_DIR})
  # A folder configured before the prefix was noted down: ICU's headers say which it was.
  get_filename_component(_seen "$CACHE{ICU_INCLUDE_DIR}" DIRECTORY)
endif()
if(VEMTORA_WINDOWS_PREFIX AND _seen AND NOT _seen STREQUAL VEMTORA_WINDOWS_PREFIX)
  get_cmake_property(_cached CACHE_VARIABLES)
  foreach(_name IN LISTS _cached)
    get_property(_value CACHE "${_name}" PROPERTY VALUE)
    string(FIND "${_value}" "${_seen}" _at)
    if(_at GREATER -1 OR _name MATCHES "^__pkg_config_checked_")
      unset(${_name} CACHE)
    endif()
  endforeach()
endif()
set(VEMTORA_WINDOWS_PREFIX_SEEN "${VEMTORA_WINDOWS_PREFIX}" CACHE INTERNAL "the prefix that the cached lookups were made in")

# Static libraries carry their dependencies in pkg-config's private fields.
set(PKG_CONFIG_ARGN --static)

# ICU's static libraries are named with an "s" on Windows, and its data is a library of its own.
find_library(ICU_UC_LIBRARY_RELEASE NAMES sicuuc icuuc)
find_library(ICU_I18N_LIBRARY_RELEASE NAMES sicuin icuin icui18n)
find_library(VEMTORA_ICU_DATA_LIBRARY NAMES sicudt icudt REQUIRED)

# cmark-gfm's extensions call into its core library, so the core must follow them on the
# link line: the extensions' name stands for a target that links both, in that order.
find_library(VEMTORA_CMARK_EXTENSIONS_STATIC cmark-gfm-extensions REQUIRED)
find_library(VEMTORA_CMARK_CORE_STATIC cmark-gfm REQUIRED)
add_library(vemtora_cmark_extensions INTERFACE IMPORTED GLOBAL)
set_target_properties(vemtora_cmark_extensions PROPERTIES
  INTERFACE_LINK_LIBRARIES "${VEMTORA_CMARK_EXTENSIONS_STATIC};${VEMTORA_CMARK_CORE_STATIC}"
  INTERFACE_COMPILE_DEFINITIONS "CMARK_GFM_STATIC_DEFINE;CMARK_GFM_EXTENSIONS_STATIC_DEFINE")
set(CMARK_EXTENSIONS_LIB vemtora_cmark_extensions CACHE STRING "cmark-gfm's extensions (Windows: a target)" FORCE)

# No runtime DLLs: libgcc, libstdc++ and winpthread go into the executables.
add_link_options(-static)
# Windows headers: no min and max macros over std::min and std::max.
add_compile_definitions(NOMINMAX)

# Cross-compiled test programs run under wine, in the build's own wine prefix.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/tests/windows/wine-run;${PROJECT_BINARY_DIR}/wineprefix")
endif()

option(VEMTORA_WINDOWS_TESTS "Build the tests of the Windows branches (run under wine when cross-compiling)" ON)

enable_language(RC)

function(vemtora_windows_link_details)
  # The program's version resource and its manifest (long paths); a Release build is
  # stripped of its symbols.
  set(VEMTORA_MANIFEST "${PROJECT_BINARY_DIR}/vemtora.manifest")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/vemtora.manifest ${VEMTORA_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/vemtora.rc.in ${PROJECT_BINARY_DIR}/vemtora.rc @ONLY)
  target_sources(vemtora PRIVATE ${PROJECT_BINARY_DIR}/vemtora.rc)
  set_property(SOURCE ${PROJECT_BINARY_DIR}/vemtora.rc APPEND PROPERTY OBJECT_DEPENDS ${VEMTORA_MANIFEST})
  target_link_options(vemtora PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)

  # The static-library defines: without them the headers declare every function as
  # imported from a DLL.
  set_property(TARGET ICU::uc APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS U_STATIC_IMPLEMENTATION)
  set_property(TARGET ICU::uc APPEND PROPERTY INTERFACE_LINK_LIBRARIES "${VEMTORA_ICU_DATA_LIBRARY}")
  set_property(TARGET ICU::i18n APPEND PROPERTY INTERFACE_LINK_LIBRARIES ICU::uc)
  set_property(TARGET PkgConfig::PCRE2 APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS PCRE2_STATIC)
  set_property(TARGET PkgConfig::LIBZIP APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS ZIP_STATIC)
  set_property(TARGET PkgConfig::CMARK APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS CMARK_GFM_STATIC_DEFINE)
  # The core library comes once, after the extensions (vemtora_cmark_extensions above):
  # a second mention here would put it first and be the only one kept.
  set_property(TARGET PkgConfig::CMARK PROPERTY INTERFACE_LINK_LIBRARIES "")
  # curl's CMake package names Schannel's and the socket layer's system libraries only
  # in some versions; name them here in any case.
  set_property(TARGET CURL::libcurl APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB)
  set_property(TARGET CURL::libcurl APPEND PROPERTY INTERFACE_LINK_LIBRARIES
    ws2_32 wldap32 crypt32 secur32 bcrypt advapi32 normaliz iphlpapi)
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL vemtora_windows_link_details)

# The tests' targets name the layers' libraries, which are resolved when the build is
# generated, so the folder can come in before they exist.
if(VEMTORA_WINDOWS_TESTS)
  enable_testing()
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/windows ${PROJECT_BINARY_DIR}/tests/windows)
endif()
