# The portable core as 32-bit Linux (multilib gcc -m32 on Debian's i386 libraries), so that what
# only 32 bits break (4-byte size_t and long, offsets past 2 GiB, time_t) shows up in the tests.
# This kernel cannot start i386 programs itself: they run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# Debian keeps the i386 packages' arch-specific headers (curl, openssl, libc) under the multiarch
# directory, which gcc -m32 does not search by itself.
set(qr_i386_flags "-m32 -march=i686 -isystem /usr/include/i386-linux-gnu")
set(CMAKE_C_FLAGS_INIT "${qr_i386_flags}")
set(CMAKE_CXX_FLAGS_INIT "${qr_i386_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# Only the i386 libraries may be found, never their amd64 twins.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu /usr/include/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
find_program(QR_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QR_QEMU_I386})
