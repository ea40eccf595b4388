#!/usr/bin/env bash
# Installs, through apt-get, exactly the Debian packages the build, the tests and the demo use.
# Idempotent: packages already present are not touched and apt is not called at all when nothing is missing.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  googletest libgtest-dev
  zlib1g-dev libcurl4-openssl-dev libssl-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine wine64 xvfb xdotool x11-apps imagemagick fonts-nanum
  python3 python3-pil curl zip unzip libarchive-tools
  nginx-light iproute2 bc
  clang libclang-rt-14-dev
  g++-multilib qemu-user zlib1g-dev:i386 libcurl4-openssl-dev:i386 libssl-dev:i386
  nginx-light
  libzstd-dev libzstd-dev:i386 zstd dpkg-dev
)

# The 32-bit Linux build's libraries come from Debian's i386 architecture, which must be known to
# dpkg (and its package lists fetched) before any :i386 package can be found.
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
else
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Windows trees build zstd from Debian's own source package (MinGW has no zstd package).
# A private deb-src list, package lists and cache keep /etc/apt and the system's lists untouched.
# The plain name would pick the security update, whose source files are not served, hence the
# release pin. Unpacked (Debian's patches applied) into third_party/zstd-src, which git ignores.
root="$(cd "$(dirname "$0")/.." && pwd)"
zstd_src="$root/third_party/zstd-src"
if [ -f "$zstd_src/lib/zstd.h" ]; then
  echo "setup: zstd source present"
  exit 0
fi
echo "setup: fetching the zstd source package"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts" "$work/src"
chmod -R a+rX "$work"  # apt downloads as its own user where it can
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] ${QUORVEL_DEBIAN_MIRROR:-http://deb.debian.org/debian} bookworm main" \
  >"$work/sources.list"
apt_private=(-o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=$work/parts"
             -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache")
apt-get "${apt_private[@]}" update -qq
(cd "$work/src" && apt-get "${apt_private[@]}" source -qq libzstd/bookworm >/dev/null)
unpacked="$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'libzstd-*' | head -n 1)"
if [ -z "$unpacked" ] || [ ! -f "$unpacked/lib/zstd.h" ]; then
  echo "setup: the zstd source package did not unpack as expected" >&2
  exit 1
fi
mkdir -p "$root/third_party"
rm -rf "$zstd_src.partial"
mv "$unpacked" "$zstd_src.partial"
mv "$zstd_src.partial" "$zstd_src"
