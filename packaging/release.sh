#!/usr/bin/env bash
# packaging/release.sh [DIR]: builds the release files from this tree and writes them into DIR
# (default dist/, next to this tree's top), those that PACKAGES names (any of zip, tar.gz and deb,
# separated by blanks or commas; default all three):
#   sk-backup-VERSION-win64.zip           sk-backup.exe, README.txt, LICENSE.txt, notices
#   sk-backup-VERSION-linux-x86_64.tar.gz the players' README.txt at its top, the static program,
#                                         man page, the guide again, LICENSE, notices
#   sk-backup_VERSION_amd64.deb           the dynamically linked program for Debian, man page,
#                                         the players' README.txt
#   SHA256SUMS                            of the files built, checked with "sha256sum -c
#                                         SHA256SUMS" in DIR
# Release files of an earlier run in DIR are removed first, so DIR holds this run's alone.
# VERSION is project()'s in CMakeLists.txt, as each build's CMake cache has it.
# The same commit gives the same bytes wherever it is built: every time is the last commit's
# (SOURCE_DATE_EPOCH), archive entries are sorted and owned by root. The build trees are
# build-release/*. Needs cmake, ninja-build, g++, the mingw-w64 compilers of the win32 thread
# model, zip and dpkg-dev. SK_BACKUP_MAINTAINER="Name <address>" sets the Debian package's
# maintainer.
set -euo pipefail
umask 022
export LC_ALL=C TZ=UTC

top=$(cd "$(dirname "$0")/.." && pwd)
dist=$(realpath -m "${1:-$top/dist}")
packages=" ${PACKAGES:-zip tar.gz deb} "
packages=${packages//,/ }
if [[ -z ${packages// /} ]]; then
  echo "release.sh: PACKAGES names no package; it may name zip, tar.gz and deb" >&2
  exit 1
fi
for package in $packages; do
  if [[ ! " zip tar.gz deb " == *" $package "* ]]; then
    echo "release.sh: PACKAGES names \"$package\"; it may name zip, tar.gz and deb" >&2
    exit 1
  fi
done
# Whether the package $1 is to be built.
wanted() { [[ "$packages" == *" $1 "* ]]; }
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct)}
build=$top/build-release
# Ninja builds in parallel; warnings are errors, as in every preset.
configure_args=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
  -DSK_BACKUP_TESTS=OFF)
if [[ -n ${SK_BACKUP_MAINTAINER:-} ]]; then
  configure_args+=("-DSK_BACKUP_MAINTAINER=$SK_BACKUP_MAINTAINER")
fi

rm -rf "$build"
mkdir -p "$build" "$dist"
rm -f "$dist"/sk-backup[-_]* "$dist/SHA256SUMS"

# Builds the program in build-release/$1 and installs it stripped into build-release/$1-stage
# under the prefix $2; the remaining arguments go to cmake's configure step. Sets version to the
# project's version.
build_and_stage() {
  local name=$1 prefix=$2
  shift 2
  local log=$build/$name.log
  if ! { cmake -S "$top" -B "$build/$name" "${configure_args[@]}" "$@" &&
    cmake --build "$build/$name" --target sk-backup &&
    DESTDIR="$build/$name-stage" cmake --install "$build/$name" --prefix "$prefix" --strip; } \
    >"$log" 2>&1; then
    cat "$log" >&2
    echo "release.sh: building $name failed (log above, in $log)" >&2
    exit 1
  fi
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/$name/CMakeCache.txt")
}

# Gives every file and folder under $1 the release time and plain permissions.
normalise() {
  find "$1" -type d -exec chmod 0755 {} +
  find "$1" -type f -exec chmod go-w,u+w,a+r {} +
  find "$1" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +
}

# Fails when a built path is in any file under $1: a build in another place would differ.
check_no_build_paths() {
  if grep -r -l -F -e "$top" "$1"; then
    echo "release.sh: the files above hold the build path $top" >&2
    exit 1
  fi
}

# The release files made, in DIR.
made=()

# The Windows program.
if wanted zip; then
build_and_stage windows / --toolchain "$top/cmake/mingw-w64-x86_64.cmake"
zip_dir=sk-backup-$version-win64
mv "$build/windows-stage" "$build/$zip_dir"
normalise "$build/$zip_dir"
check_no_build_paths "$build/$zip_dir"
# The players' readme as Notepad needs it: every line ends in CR LF; the first names this version.
# It stays short enough that a player finds the line of an error quickly: 240 lines at most.
readme=$build/$zip_dir/README.txt
if grep -q -v $'\r$' "$readme" || [[ $(head -n 1 "$readme") != "sk-backup $version"$'\r' ]]; then
  echo "release.sh: $readme has a line without CR LF, or no version $version in its title" >&2
  exit 1
fi
if (($(wc -l <"$readme") > 240)); then
  echo "release.sh: $readme has $(wc -l <"$readme") lines, more than 240" >&2
  exit 1
fi
(cd "$build" && find "$zip_dir" -type f | sort | zip -X -D -9 -q "$dist/$zip_dir.zip" -@)
made+=("$zip_dir.zip")
fi

# The static Linux program, in the usual layout under one folder.
if wanted tar.gz; then
build_and_stage linux-static / -DSK_BACKUP_STATIC=ON
tar_dir=sk-backup-$version-linux-x86_64
mv "$build/linux-static-stage" "$build/$tar_dir"
# The players' guide at the top, where a player who unpacks it looks first.
# It stays as short as the Windows one: 240 lines at most.
cp "$build/$tar_dir/share/doc/sk-backup/README.txt" "$build/$tar_dir/README.txt"
if (($(wc -l <"$build/$tar_dir/README.txt") > 240)); then
  echo "release.sh: the players' guide has more than 240 lines" >&2
  exit 1
fi
normalise "$build/$tar_dir"
check_no_build_paths "$build/$tar_dir"
tar -C "$build" --sort=name --format=gnu --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 \
  --numeric-owner -cf - "$tar_dir" | gzip -9 -n >"$dist/$tar_dir.tar.gz"
made+=("$tar_dir.tar.gz")
fi

# The Debian package: the program linked dynamically with Debian's hardening flags, its
# dependencies worked out by dpkg-shlibdeps.
if wanted deb; then
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
CXXFLAGS=$(dpkg-buildflags --get CXXFLAGS)
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
build_and_stage linux-deb /usr -DSK_BACKUP_STATIC=OFF -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS"
# Laid out as dpkg-shlibdeps expects a package being built: debian/control, debian/PACKAGE.
mkdir -p "$build/deb/debian"
printf 'Source: sk-backup\n\nPackage: sk-backup\nArchitecture: amd64\n' >"$build/deb/debian/control"
deb=$build/deb/debian/sk-backup
mv "$build/linux-deb-stage" "$deb"
mkdir "$deb/DEBIAN"
doc=$deb/usr/share/doc/sk-backup
gzip -9 -n "$deb/usr/share/man/man1/sk-backup.1"
cp "$top/packaging/debian/copyright" "$doc/copyright"
gzip -9 -n -c "$build/linux-deb/debian/changelog" >"$doc/changelog.gz"
# The copyright file holds the licence; Debian wants no second copy of it.
rm "$doc/LICENSE"
# What dh_strip takes out beyond "cmake --install --strip": the compiler's notes.
strip --remove-section=.comment --remove-section=.note "$deb/usr/bin/sk-backup"
depends=$(cd "$build/deb" && dpkg-shlibdeps -O debian/sk-backup/usr/bin/sk-backup |
  sed -n 's/^shlibs:Depends=//p')
normalise "$deb"
check_no_build_paths "$deb"
installed_size=$(find "$deb/usr" -type f -printf '%s\n' |
  awk -v dirs="$(find "$deb/usr" -type d | wc -l)" \
    '{ kib += int(($1 + 1023) / 1024) } END { print kib + dirs }')
sed -e "s/\${INSTALLED_SIZE}/$installed_size/" -e "s/\${DEPENDS}/$depends/" \
  "$build/linux-deb/debian/control" >"$deb/DEBIAN/control"
(cd "$deb" && find usr -type f | sort | xargs md5sum >DEBIAN/md5sums)
normalise "$deb"
dpkg-deb --root-owner-group -Zxz --build "$deb" "$dist/sk-backup_${version}_amd64.deb" >/dev/null
made+=("sk-backup_${version}_amd64.deb")
fi

cd "$dist"
sha256sum "${made[@]}" >SHA256SUMS
sha256sum -c --quiet SHA256SUMS
echo "Release files of $(git -C "$top" describe --always --dirty) in $dist:"
cat SHA256SUMS
