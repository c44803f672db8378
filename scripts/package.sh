#!/usr/bin/env bash
# Builds the Debian package (build/pkg/apfold_<version>_<arch>.deb) and tries
# it the way a user would get it: unpacked with dpkg-deb into a scratch
# folder, its apfold is run on a copy of the example survey (exit 0, a
# 14756-byte db.bin equal to tests/golden/example.db.bin), and a program of
# another project is built on its library with find_package(apfold).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --package
build=build/pkg

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAPFOLD_BUILD_TESTS=OFF >/dev/null
cmake --build "$build"
rm -f "$build"/apfold_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/apfold_*.deb)
deb=${debs[0]}
[[ -f "$deb" ]] || { echo "package.sh: cpack made no .deb" >&2; exit 1; }
echo "== $deb: $(stat -c %s "$deb") bytes"
dpkg-deb --field "$deb" Package Version Architecture Maintainer Installed-Size Depends Section

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
usr="$work/root/usr"
fail() { echo "package.sh: $*" >&2; exit 1; }
for f in bin/apfold bin/apdump bin/aplocate bin/apsurvey share/man/man1/apfold.1 share/man/man1/apdump.1 \
    share/man/man1/aplocate.1 share/man/man1/apsurvey.1 \
    include/apfold/radiomap/refpoint.h include/apfold/radiomap/db_reader.h include/apfold/report/report.h \
    include/apfold/input/scan_text.h include/apfold/input/scan_listing.h \
    include/apfold/laser/laserscan.h lib/libapfold_core.a lib/cmake/apfold/apfoldConfig.cmake \
    lib/cmake/apfold/apfoldConfigVersion.cmake lib/cmake/apfold/apfoldTargets.cmake \
    share/doc/apfold/README.md; do
  [[ -e "$usr/$f" ]] || fail "the package has no /usr/$f"
done
version=$(sed -n 's/^project(apfold VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ "$("$usr/bin/apdump" --version)" == "apdump $version" ]] || fail "apdump --version is not $version"
[[ "$("$usr/bin/apsurvey" --version)" == "apsurvey $version" ]] || fail "apsurvey --version is not $version"
grep -q "\"apfold $version\"" "$usr/share/man/man1/apfold.1" || fail "apfold.1 does not name $version"

echo "== the packaged apfold on the example survey"
cp -r examples/survey "$work/survey"
status=0
(cd "$work/survey" && "$usr/bin/apfold" 12 3) || status=$?
[[ $status -eq 0 ]] || fail "apfold 12 3 exited with $status"
size=$(stat -c %s "$work/survey/db.bin")
[[ $size -eq 14756 ]] || fail "db.bin is $size bytes, not 14756"
cmp "$work/survey/db.bin" tests/golden/example.db.bin || fail "db.bin differs from tests/golden/example.db.bin"

echo "== a program built on the packaged library"
cmake -S tests/consumer -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$usr" \
  -DAPFOLD_EXPECTED_VERSION="$version" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
cmake --build "$work/consumer" >/dev/null
(cd "$work/survey" && "$work/consumer/consumer" 12 3 "$work/consumer.db.bin" | tail -2)
cmp "$work/consumer.db.bin" tests/golden/example.db.bin || fail "the consumer's database differs from the golden one"

echo "package.sh: $(basename "$deb") works: apfold 12 3 wrote the 14756-byte golden database"
