# Build settings shared by every target of our own: the language standard, warnings (errors in
# the project's own checks), hardening, and the maker's addresses, which are build settings rather
# than code.

set(BRIMVALE_HOME_PAGE "https://brimvale.example/" CACHE STRING "The maker's home page")
set(BRIMVALE_CONTACT_PAGE "https://brimvale.example/contact" CACHE STRING "The maker's contact page")
set(BRIMVALE_SUPPORT_EMAIL "support@brimvale.example" CACHE STRING "The support e-mail address")
# The name software centres know the program by: the project's domain reversed, then the
# program. It stays the same when the addresses above move, as an AppStream id must.
set(BRIMVALE_APPSTREAM_ID "org.brimvale.brimvale" CACHE STRING "The AppStream component id")

add_library(brimvale_build INTERFACE)
target_compile_features(brimvale_build INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(brimvale_build INTERFACE -Wall -Wextra -Wpedantic)
# Warnings are errors in the project's own checks (tools/test.sh, and so CI), which turn this on.
# A build made elsewhere, with another compiler or flags of its own (a distribution's), meets
# warnings this project never saw: they stay warnings there.
option(BRIMVALE_WERROR "Treat compiler warnings as errors" OFF)
if(BRIMVALE_WERROR)
    target_compile_options(brimvale_build INTERFACE -Werror)
endif()
# GCC 12 at -O3 warns falsely about overlapping copies inside std::string's operator+
# (-Wrestrict); later releases no longer do.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(brimvale_build INTERFACE -Wno-restrict)
endif()
# Hardening, as Debian builds its packages: a stack protector, checked buffer functions (below)
# and relocations made read-only at start.
target_compile_options(brimvale_build INTERFACE -fstack-protector-strong)
target_link_options(brimvale_build INTERFACE -Wl,-z,relro -Wl,-z,now)

# A build for finding faults at run time: "thread" (ThreadSanitizer) or "address"
# (AddressSanitizer with UndefinedBehaviorSanitizer, undefined behaviour ending the process).
# Frame pointers are kept so that the reports show whole stacks.
set(BRIMVALE_SANITIZE "" CACHE STRING "Build with a sanitizer: thread, address, or empty for none")
set_property(CACHE BRIMVALE_SANITIZE PROPERTY STRINGS "" thread address)
if(BRIMVALE_SANITIZE STREQUAL "thread")
    set(brimvale_sanitize_flags -fsanitize=thread)
elseif(BRIMVALE_SANITIZE STREQUAL "address")
    set(brimvale_sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined)
    # GCC's bounds warnings read UBSan's added checks as paths the code can take: after a length
    # check, Qt's inline readers are warned of as reading past an empty array. The plain build
    # keeps the warning, as an error.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(brimvale_build INTERFACE -Wno-array-bounds)
    endif()
elseif(NOT BRIMVALE_SANITIZE STREQUAL "")
    message(FATAL_ERROR "BRIMVALE_SANITIZE is \"${BRIMVALE_SANITIZE}\": use thread, address or leave it empty")
endif()
if(brimvale_sanitize_flags)
    target_compile_options(brimvale_build INTERFACE ${brimvale_sanitize_flags} -fno-omit-frame-pointer)
    target_link_options(brimvale_build INTERFACE ${brimvale_sanitize_flags})
else()
    # The checked buffer functions (_FORTIFY_SOURCE) need the optimiser, so not in Debug builds.
    # A sanitized build goes without them: the sanitizers intercept the plain functions, and the
    # checked variants would pass by their checks.
    target_compile_options(brimvale_build INTERFACE
        "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
target_compile_definitions(brimvale_build INTERFACE
    BRIMVALE_HOME_PAGE="${BRIMVALE_HOME_PAGE}"
    BRIMVALE_CONTACT_PAGE="${BRIMVALE_CONTACT_PAGE}"
    BRIMVALE_SUPPORT_EMAIL="${BRIMVALE_SUPPORT_EMAIL}"
    _FILE_OFFSET_BITS=64)

# Qt code of our own: no implicit conversions from 8-bit strings.
add_library(brimvale_qt_build INTERFACE)
target_link_libraries(brimvale_qt_build INTERFACE brimvale_build)
target_compile_definitions(brimvale_qt_build INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)
