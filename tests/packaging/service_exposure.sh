#!/usr/bin/env bash
# The service's confinement as systemd rates it: the overall exposure of the unit as shipped stays
# at or below 2.5, no setting is misspelt (systemd would only warn and ignore it), and the settings
# the station's confinement rests on are all there.
set -euo pipefail
unit=$1
limit=2.5

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: systemd-analyze is not installed (Debian package systemd)"
    exit 77
fi

report=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1) || fail "systemd-analyze: $report"
if grep -E 'Unknown (key|section)|Failed to parse|ignoring' <<<"$report"; then
    fail "systemd does not understand the unit"
fi
figure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' <<<"$report")
[[ -n $figure ]] || fail "no overall exposure in: $report"
awk -v f="$figure" -v l="$limit" 'BEGIN { exit !(f <= l) }' ||
    fail "exposure $figure above $limit:$(grep '✗' <<<"$report")"

for line in 'UMask=0077' 'ProtectSystem=strict' 'ReadWritePaths=/var/lib/orvanedb' 'PrivateTmp=yes' \
    'ProtectHome=yes' 'NoNewPrivileges=yes' 'ProtectKernelTunables=yes' 'ProtectKernelModules=yes' \
    'ProtectKernelLogs=yes' 'ProtectControlGroups=yes' 'SystemCallFilter=@system-service' \
    'CapabilityBoundingSet=' 'LockPersonality=yes' 'MemoryDenyWriteExecute=yes' 'RestrictNamespaces=yes' \
    'RestrictRealtime=yes' 'DevicePolicy=closed' 'DeviceAllow=char-ttyS rw' 'DeviceAllow=char-ttyUSB rw' \
    'DeviceAllow=char-ttyACM rw' '#LoadCredential=orvanedb-db:/etc/orvanedb/db-credentials'; do
    grep -qxF "$line" "$unit" || fail "the unit lacks $line"
done
grep -qE '^RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6( AF_NETLINK)?$' "$unit" ||
    fail "the unit's address families are not the station's"
echo "exposure $figure (at most $limit)"
