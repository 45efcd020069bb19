#!/bin/sh
# Installs what building and testing quenlet needs on Debian 12: CMake and
# Ninja, both mingw-w64 cross compilers, Wine (32- and 64-bit), OpenJDK 17,
# GoogleTest and clang (for the fuzz targets). Does nothing when all is there.
set -e
packages="cmake ninja-build g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64
  openjdk-17-jdk-headless python3 googletest libgtest-dev libgmock-dev clang libclang-rt-14-dev valgrind"
missing=""
for package in $packages; do
  dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
case " $missing " in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
esac
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
