#!/usr/bin/env bash
# The Prometheus alerting rules the package ships: valid for promtool, and the alerts fire (and stay
# quiet) in the cases of their unit tests.
set -euo pipefail
rules=$1
shift

if ! command -v promtool >/dev/null; then
    echo "SKIP: promtool is not installed (Debian package prometheus)"
    exit 77
fi
promtool check rules "$rules"
# promtool reads the rule files named in the tests relative to the test file.
promtool test rules "$@"
