#!/usr/bin/env bash
# The man page renders without a single warning: groff -ww -z, and man -l with warnings on.
# usage: man_page_test.sh PAGE
set -uo pipefail
page=$1
status=0
for cmd in "groff -ww -z -man" "man --warnings=w -l"; do
  warnings=$($cmd "$page" 2>&1 >/dev/null)
  code=$?
  if [ "$code" != 0 ] || [ -n "$warnings" ]; then
    echo "FAIL: $cmd $page: status $code"
    echo "$warnings"
    status=1
  fi
done
[ "$status" = 0 ] && echo "$page renders without warnings"
exit "$status"
