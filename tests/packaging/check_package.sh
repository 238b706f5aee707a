#!/usr/bin/env bash
# Packs the given build tree with CPack and checks what a Debian system would get.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/out/orvanedb_*_amd64.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "no single package in $work/out"
deb=${debs[0]}

# Metadata: the libraries the programs link come from the binaries, the rest is declared.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == orvanedb ]] || fail "package name $(field Package)"
[[ -n $(field Version) ]] || fail "no version"
depends=$(field Depends)
for dependency in adduser libfbclient2 libqt6core6 libqt6network6 libc6; do
    grep -qE "(^|, )$dependency( |,|$)" <<<"$depends" || fail "Depends lacks $dependency: $depends"
done
grep -q firebird3.0-server-core <<<"$(field Recommends)" || fail "Recommends lacks the embedded engine"

# Contents.
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/orvanedb ./usr/bin/orvanedb-sim \
    ./usr/share/applications/orvanedb.desktop \
    ./usr/share/icons/hicolor/scalable/apps/orvanedb.svg \
    ./usr/share/orvanedb/paquetes.sql \
    ./usr/share/orvanedb/station-role.sql \
    ./usr/share/man/man1/orvanedb.1.gz \
    ./usr/lib/systemd/system/orvanedb.service \
    ./usr/lib/tmpfiles.d/orvanedb.conf \
    ./usr/share/orvanedb/orvanedb-alerts.yml \
    ./usr/share/doc/orvanedb/copyright ./usr/share/doc/orvanedb/changelog.gz; do
    grep -qxF "$path" <<<"$contents" || fail "missing $path"
done
dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
    [[ -x $work/control/$script ]] || fail "$script not executable"
    sh -n "$work/control/$script" || fail "$script does not parse"
done
grep -q 'adduser --system' "$work/control/postinst" || fail "postinst creates no system user"

# lintian: warnings are allowed, errors are not.
lintian --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1 || true
if grep -E '^E: ' "$work/lintian.log"; then
    fail "lintian reports errors"
fi

# The unpacked layout runs.
dpkg-deb -x "$deb" "$work/root"
usr=$work/root/usr
version=$("$usr/bin/orvanedb" --version) || fail "orvanedb --version"
[[ $version == OrvaneDB* ]] || fail "version text '$version'"
"$usr/bin/orvanedb" --help | grep -q -- --metrics || fail "orvanedb --help lists no --metrics"
"$usr/bin/orvanedb-sim" --help >/dev/null || fail "orvanedb-sim --help"

unit=$usr/lib/systemd/system/orvanedb.service
for line in 'User=orvanedb' 'WorkingDirectory=/var/lib/orvanedb' 'Restart=on-failure' 'KillSignal=SIGTERM' \
    'Environment=XDG_CONFIG_HOME=/var/lib/orvanedb/.config'; do
    grep -qxF "$line" "$unit" || fail "unit lacks $line"
done
grep -qE '^ExecStart=/usr/bin/orvanedb --console' "$unit" || fail "the service does not run headless"
if command -v systemd-analyze >/dev/null; then
    # Verified as it stands, but running the unpacked program; systemd only warns about unknown keys.
    mkdir -p "$work/unit"
    sed "s|/usr/bin/orvanedb|$usr/bin/orvanedb|" "$unit" >"$work/unit/orvanedb.service"
    complaints=$(systemd-analyze verify --man=no "$work/unit/orvanedb.service" 2>&1 | grep -v 'sysinit.target' || true)
    [[ -z $complaints ]] || fail "systemd-analyze verify: $complaints"
fi
zcat "$usr/share/man/man1/orvanedb.1.gz" | grep -q '^\.SH EXIT STATUS' || fail "man page lacks its exit status"
echo "package ok: $(basename "$deb")"
