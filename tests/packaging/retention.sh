#!/usr/bin/env bash
# The package's tmpfiles.d rule on a staged working folder: raw logs and refused-row dumps older than
# 90 days go, newer ones stay, and the database, the journals and the settings stay however old.
# Then an administrator's copy in /etc/tmpfiles.d with another age takes its place.
set -euo pipefail
rule=$1

if ! command -v systemd-tmpfiles >/dev/null; then
    echo "SKIP: systemd-tmpfiles is not installed (Debian package systemd)"
    exit 77
fi
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
work=$root/var/lib/orvanedb
failures=0

stage() { # stage AGE PATH...
    local age=$1
    shift
    for path in "$@"; do
        mkdir -p "$(dirname "$work/$path")"
        echo contenido >"$work/$path"
        touch -d "$age" "$work/$path"
    done
}

expect() { # expect gone|kept PATH...
    local want=$1
    shift
    for path in "$@"; do
        if [[ -e $work/$path ]]; then got=kept; else got=gone; fi
        if [[ $got != "$want" ]]; then
            echo "FAIL: $path $got, expected $want" >&2
            failures=$((failures + 1))
        fi
    done
}

raw_old=(Ethernet/11012024-103001.txt RS232/11012024-103002.txt "Datos Orvane/Ethernet/11012024-110001.txt"
    "Datos Orvane/RS232/11012024-110002.txt" Query-fallido-11012024-10-01.txt)
raw_recent=(Ethernet/20042024-093001.txt RS232/20042024-093002.txt "Datos Orvane/Ethernet/20042024-100001.txt"
    Query-fallido-20042024-09-01.txt)
raw_new=(Ethernet/01052024-080001.txt Query-fallido-01052024-08-01.txt)
# What must stay whatever its age, names close to a dump's among them.
never=(ROVEZOD30.FDB planta.fdb lecturas.diario filas.diario .config/Tarvenix/OrvaneDB.reg camaras.txc
    NombreCamaras.txt turno.txt Template_fallas.txt Query Query-fallido Quasi.txt)
stage '100 days ago' "${raw_old[@]}" "${never[@]}"
stage '50 days ago' "${raw_recent[@]}"
stage '1 hour ago' "${raw_new[@]}"

# The rule as the package installs it, read from the staged root.
mkdir -p "$root/usr/lib/tmpfiles.d"
cp "$rule" "$root/usr/lib/tmpfiles.d/orvanedb.conf"
systemd-tmpfiles --root="$root" --clean orvanedb.conf
expect gone "${raw_old[@]}"
expect kept "${raw_recent[@]}" "${raw_new[@]}" "${never[@]}" Ethernet RS232 "Datos Orvane"

# The administrator's age: a copy in /etc/tmpfiles.d replaces the package's file.
mkdir -p "$root/etc/tmpfiles.d"
sed 's/m:90d/m:30d/' "$rule" >"$root/etc/tmpfiles.d/orvanedb.conf"
systemd-tmpfiles --root="$root" --clean orvanedb.conf
expect gone "${raw_recent[@]}"
expect kept "${raw_new[@]}" "${never[@]}"

[[ $failures -eq 0 ]] || exit 1
echo "retention ok"
