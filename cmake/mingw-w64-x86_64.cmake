# Cross build for 64-bit Windows with the mingw-w64 compilers of Debian
# (packages g++-mingw-w64-x86-64-win32 and binutils-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SK_BACKUP_MINGW x86_64-w64-mingw32)
# The compilers of the "win32" thread model: the program has no threads, and this model needs no
# POSIX threads library (winpthreads), whose thread control (suspend, get and set a thread's
# context) would otherwise be linked in.
set(CMAKE_C_COMPILER ${SK_BACKUP_MINGW}-gcc-win32)
set(CMAKE_CXX_COMPILER ${SK_BACKUP_MINGW}-g++-win32)
set(CMAKE_RC_COMPILER ${SK_BACKUP_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SK_BACKUP_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program is one self-contained .exe: the C++ runtime and libgcc are linked in, so it needs
# nothing but the DLLs that come with Windows. No link time in the file header: two builds of the
# same source give the same bytes.
# Hardening beyond the linker's defaults (DEP, ASLR with high-entropy addresses): a guard value
# on the stack of every function with an array or an address taken of a local, checked on
# return, and the checked forms of the C library's copies where the compiler knows the target's
# size (mingw-w64's headers know level 2; an unoptimised build leaves them out). Linking with
# -fstack-protector-strong adds GCC's libssp, statically here; the guard value and the failure
# handlers themselves come from src/stack_guard-win32.cpp. GCC has no Control Flow Guard.
set(CMAKE_C_FLAGS_INIT "-fstack-protector-strong -D_FORTIFY_SOURCE=2")
set(CMAKE_CXX_FLAGS_INIT "-fstack-protector-strong -D_FORTIFY_SOURCE=2")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -fstack-protector-strong -Wl,--no-insert-timestamp")

# Wine runs the programs built here (the tests among them) in a Wine prefix of the build folder,
# quietly, without a display, and without asking for the .NET and HTML components. The 64-bit
# loader and server are taken first: Debian's wine script wants a 32-bit loader where i386 is
# enabled, and its wineserver script ends the server as soon as the last program has ended.
# Debian's Wine has no preloader to keep the addresses that Windows programs need free, so with
# the kernel's address space randomisation the loader's heap now and then lies where Wine maps
# the shared user data (0x7ffe0000), and the new process dies before it runs ("failed to map the
# shared user data: c0000018"): a test without output, or a command line that never ran. Wine and
# every process it starts run with randomisation off (setarch -R, inherited by children).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(SK_BACKUP_WINE NAMES wine64 wine HINTS /usr/lib/wine)
  find_program(SK_BACKUP_WINESERVER NAMES wineserver64 wineserver HINTS /usr/lib/wine)
  find_program(SK_BACKUP_SETARCH setarch)
  if(SK_BACKUP_WINE)
    set(SK_BACKUP_WINE_ENV)
    if(SK_BACKUP_SETARCH)
      set(SK_BACKUP_WINE_ENV ${SK_BACKUP_SETARCH} --addr-no-randomize)
    endif()
    list(APPEND SK_BACKUP_WINE_ENV
        ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
        WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all
        WINEDLLOVERRIDES=mscoree,mshtml= WINELOADER=${SK_BACKUP_WINE})
    set(CMAKE_CROSSCOMPILING_EMULATOR ${SK_BACKUP_WINE_ENV} ${SK_BACKUP_WINE})
  endif()
endif()
