#!/usr/bin/env bash
# Builds the Debian package dist/quillodine_<version>_<architecture>.deb with CPack (Debian 12, as
# root: installs what is missing: dpkg-dev for the dependencies dpkg-shlibdeps computes, file, with
# which CPack picks the binaries to give it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh dpkg-dev file
# Debian's hardening flags, as a Debian build would use them (fortified functions, stack protector,
# read-only relocations bound at start).
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
# Only the program is built: CPack's install step must not build everything else first.
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DQUILLODINE_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build build-package -j"$(nproc)" --target Quillodine debian_files
mkdir -p dist
cpack --config build-package/CPackConfig.cmake -G DEB -B dist
rm -rf dist/_CPack_Packages
ls -l dist/*.deb
