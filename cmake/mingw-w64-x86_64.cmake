# Cross-builds the updater for 64-bit Windows with Debian's mingw-w64 (posix
# threads) against the prebuilt SDK whose manifest sits beside its archive.
#
# VANTRA_WINDOWS_SDK: an unpacked SDK (holding prefix/ and prefix-openssl/).
# Left empty, the archive VANTRA_WINDOWS_SDK_ARCHIVE is unpacked into the
# build directory at configure time: the shared folder may be read-only.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triplet}-windres)
set(mingw_sysroot /usr/${mingw_triplet})

# try_compile projects read this file again, without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VANTRA_WINDOWS_SDK)

if(NOT VANTRA_WINDOWS_SDK)
    set(VANTRA_WINDOWS_SDK_ARCHIVE
        "${CMAKE_CURRENT_LIST_DIR}/../../shared/windows-sdk/x86_64-w64-mingw32-sdk.tar.xz"
        CACHE FILEPATH "The SDK archive, unpacked when VANTRA_WINDOWS_SDK is empty")
    set(VANTRA_WINDOWS_SDK_SHA256
        "57867d0bc6db21fdbba9d3e0acfe057a8f7e314284b289f9d615e8d48e67b3af"
        CACHE STRING "Expected SHA-256 of the SDK archive; empty accepts any")
    set(unpacked "${CMAKE_BINARY_DIR}/windows-sdk")
    set(stamp "${unpacked}/.unpacked")
    if(NOT EXISTS "${stamp}")
        get_filename_component(archive "${VANTRA_WINDOWS_SDK_ARCHIVE}" ABSOLUTE)
        if(NOT EXISTS "${archive}")
            message(FATAL_ERROR "The Windows SDK archive ${archive} is missing: put ../shared "
                                "beside the source tree, or set VANTRA_WINDOWS_SDK to an unpacked SDK.")
        endif()
        if(VANTRA_WINDOWS_SDK_SHA256)
            file(SHA256 "${archive}" actual)
            if(NOT actual STREQUAL VANTRA_WINDOWS_SDK_SHA256)
                message(FATAL_ERROR "${archive} has SHA-256 ${actual}, not the manifest's "
                                    "${VANTRA_WINDOWS_SDK_SHA256}")
            endif()
        endif()
        message(STATUS "Unpacking the Windows SDK into ${unpacked}")
        file(REMOVE_RECURSE "${unpacked}")
        file(MAKE_DIRECTORY "${unpacked}")
        file(ARCHIVE_EXTRACT INPUT "${archive}" DESTINATION "${unpacked}")
        file(TOUCH "${stamp}")
    endif()
    set(VANTRA_WINDOWS_SDK "${unpacked}" CACHE PATH "The unpacked Windows SDK" FORCE)
endif()

foreach(part prefix prefix-openssl prefix/qt6)
    if(NOT IS_DIRECTORY "${VANTRA_WINDOWS_SDK}/${part}")
        message(FATAL_ERROR "VANTRA_WINDOWS_SDK=${VANTRA_WINDOWS_SDK} holds no ${part}/")
    endif()
endforeach()

# The OpenSSL build of curl comes first, so that its libcurl is the one found;
# the Schannel build in prefix/ is never linked.
set(CMAKE_FIND_ROOT_PATH
    "${VANTRA_WINDOWS_SDK}/prefix-openssl"
    "${VANTRA_WINDOWS_SDK}/prefix"
    "${VANTRA_WINDOWS_SDK}/prefix/qt6"
    "${mingw_sysroot}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CURL_DIR "${VANTRA_WINDOWS_SDK}/prefix-openssl/lib/cmake/CURL" CACHE PATH "" FORCE)
set(OPENSSL_ROOT_DIR "${VANTRA_WINDOWS_SDK}/prefix-openssl")

# Qt's cross build runs Debian's host tools of the same version (moc, rcc, uic).
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# Where deploy_windows looks for the DLLs the program imports.
set(VANTRA_WINDOWS_DLL_DIRS
    "${VANTRA_WINDOWS_SDK}/prefix-openssl/bin"
    "${VANTRA_WINDOWS_SDK}/prefix/bin"
    "${VANTRA_WINDOWS_SDK}/prefix/qt6/bin"
    "/usr/lib/gcc/${mingw_triplet}/12-posix"
    "${mingw_sysroot}/lib")
