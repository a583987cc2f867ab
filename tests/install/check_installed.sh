#!/usr/bin/env bash
# The installed suite: cmake --install into a temporary prefix, made
# read-only, then regclean found on the PATH checks a copy of the demo prefix.
# It must report what the staged suite reports (the demo's twelve problems,
# exit status 1), and in German when asked, so the language libraries are
# found where they were installed.
set -euo pipefail
build=${1:?usage: check_installed.sh BUILD-DIR STAGE-DIR}
stage=${2:?usage: check_installed.sh BUILD-DIR STAGE-DIR}
copy=$(dirname "$0")/../../scripts/copy-demo-prefix
work=$(mktemp -d "${TMPDIR:-/tmp}/regclean-install.XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "check_installed: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/usr" >/dev/null
chmod -R a-w "$work/usr"
[ -L "$work/usr/bin/regclean" ] || fail "no bin/regclean link"

check() {  # check NAME COMMAND...: runs a check on a fresh demo prefix NAME
  local name=$1 status=0
  shift
  "$copy" "$work/$name"
  "$@" check --prefix "$work/$name" >"$work/$name.out" 2>"$work/$name.err" || status=$?
  [ $status = 1 ] || { cat "$work/$name.err" >&2; fail "$* check exited $status, not 1"; }
  # The prefix's path and the log's name differ from run to run.
  grep -v -e '^Checking the registry' -e '^Log: ' "$work/$name.out" >"$work/$name.txt"
}
check installed env PATH="$work/usr/bin:$PATH" regclean
check staged "$stage/regclean"
grep -qx "12 problems found." "$work/installed.txt" || fail "the installed check did not find 12 problems"
diff "$work/staged.txt" "$work/installed.txt" >&2 || fail "the installed check differs from the staged one"
check german env LC_ALL=de_DE.UTF-8 "$work/usr/bin/regclean"
[ "$(head -1 "$work/german.out")" = "Registry bereinigen" ] ||
  fail "the installed module did not speak German: $(head -1 "$work/german.out")"
echo "check_installed: the installed suite checked the demo prefix as the staged one does"
