#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The desktop metadata through the freedesktop validators: the installed metainfo and
# desktop entries as the build makes them, and the entry the program writes for its user.
# Any error or warning fails.
# Usage: check_metadata.sh BUILD_DIR SOURCE_DIR APP_ID
set -euo pipefail
build=$1 source=$2 id=$3
metainfo=$build/resources/$id.metainfo.xml

appstreamcli validate --no-net "$metainfo"

status=0
for entry in "$build/resources/$id.desktop" "$build/resources/$id.compress.desktop" \
  "$source/resources/brisko-packer.desktop"; do
  report=$(desktop-file-validate "$entry" 2>&1) || status=1
  if grep -Eq 'error|warning' <<<"$report"; then status=1; fi
  [ -z "$report" ] || echo "$report"
done
exit $status
