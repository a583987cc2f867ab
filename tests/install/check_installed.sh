#!/usr/bin/env bash
# The installed suite: cmake --install into a temporary prefix, made
# read-only, then regclean found on the PATH checks a copy of the demo prefix.
# It must report what the staged suite reports (the demo's twelve problems,
# exit status 1), and in German when asked, so the language libraries are
# found where they were installed. Then what a user meets beside the
# program: the manual page (true to --help), bash completion, keeping
# entries and resolving some categories only. With a .deb as third argument
# the suite is that package, installed by dpkg into a throwaway root instead.
set -euo pipefail
build=${1:?usage: check_installed.sh BUILD-DIR STAGE-DIR [PACKAGE.deb]}
stage=${2:?usage: check_installed.sh BUILD-DIR STAGE-DIR [PACKAGE.deb]}
package=${3:-}
copy=$(dirname "$0")/../../scripts/copy-demo-prefix
work=$(mktemp -d "${TMPDIR:-/tmp}/regclean-install.XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "check_installed: $*" >&2; exit 1; }

if [ -n "$package" ]; then
  mkdir -p "$work/root/var/lib/dpkg/info" "$work/root/var/lib/dpkg/updates"
  touch "$work/root/var/lib/dpkg/status"
  # The root's own database knows no libraries; the machine's are there.
  dpkg --root="$work/root" --force-depends --force-script-chrootless -i "$package" >/dev/null 2>&1 ||
    fail "dpkg could not install $package"
  ln -s root/usr "$work/usr"
else
  cmake --install "$build" --prefix "$work/usr" >/dev/null
fi
chmod -R a-w "$work/usr/"
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

# The manual page names the commands and options --help names, and no other.
man=$work/usr/share/man/man1/regclean.1.gz
[ -f "$man" ] || fail "no manual page at share/man/man1/regclean.1.gz"
[ -f "$work/usr/share/bash-completion/completions/regclean" ] || fail "no bash completion"
[ -f "$work/usr/share/doc/regclean/copyright" ] || fail "no copyright file"
installed=$work/usr/bin/regclean
for c in "" check resolve restore prefixes keep reg; do
  $installed $c --help >"$work/help-${c:-all}.txt" || fail "regclean $c --help failed"
done
gzip -dc "$man" >"$work/man.txt"
python3 - "$work" <<'PYTHON' || fail "the manual page and --help differ"
import re, sys
work = sys.argv[1]
man = open(work + '/man.txt').read()
def help_options(text):
    lines = [l for l in text.splitlines() if 'Usage:' in l or l.lstrip().startswith('regclean')
             or re.match(r'\s{2}-', l)]
    return set(re.findall(r'(?<![\w-])(--[a-z]+|-j)\b', '\n'.join(lines))) - {'--help', '--prefix'}
def man_options(section):
    return set(o.replace('\\-', '-') for o in
               re.findall(r'^\.BI? (\\-\\-[a-z]+|\\-j)\b', section, re.M)) - {'--help', '--prefix'}
sections = dict(re.findall(r'^\.SS (\S+)\n(.*?)(?=^\.S[SH] )', man, re.M | re.S))
top = open(work + '/help-all.txt').read()
commands = set(re.findall(r'^  ([a-z]+)  ', top.split('Commands:')[1].split('Options:')[0], re.M))
bad = []
if commands != set(sections):
    bad.append('commands: --help %s, manual %s' % (sorted(commands), sorted(sections)))
for command in sorted(commands & set(sections)):
    h, m = help_options(open('%s/help-%s.txt' % (work, command)).read()), man_options(sections[command])
    if h != m:
        bad.append('%s: --help %s, manual %s' % (command, sorted(h), sorted(m)))
options = re.search(r'^\.SH OPTIONS\n(.*?)^\.SH ', man, re.M | re.S).group(1)
g = set(re.findall(r'^  (--[a-z]+)', top.split('Options:')[1], re.M))
m = set(o.replace('\\-', '-') for o in re.findall(r'^\.BI? (\\-\\-[a-z]+)', options, re.M))
if g != m:
    bad.append('options: --help %s, manual %s' % (sorted(g), sorted(m)))
for line in bad:
    print('check_installed: ' + line, file=sys.stderr)
sys.exit(1 if bad else 0)
PYTHON

# Completion: commands, options, category names, and the prefixes found.
mkdir -p "$work/home"
"$copy" "$work/home/.wine"
complete_line() {  # complete_line WORD...: the completions of the last word
  HOME=$work/home PATH="$work/usr/bin:$PATH" WINEPREFIX= bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _regclean; printf "%s\n" "${COMPREPLY[@]}"' sh \
    "$work/usr/share/bash-completion/completions/regclean" "$@"
}
[ "$(complete_line regclean res)" = "$(printf 'resolve\nrestore')" ] ||
  fail "completion of 'regclean res': $(complete_line regclean res)"
# (grep reads it all: grep -q would end the pipe early, which pipefail counts.)
complete_line regclean resolve --only 'UninstallInvalidProblems,Shared' |
  grep -x 'UninstallInvalidProblems,SharedDllMissingProblems' >/dev/null ||
  fail "no completion of categories"
complete_line regclean resolve --y | grep -x -- --yes >/dev/null ||
  fail "no completion of resolve's options"
complete_line regclean --prefix "$work/home/" | grep -Fx "$work/home/.wine" >/dev/null ||
  fail "no completion of the prefixes found: $(complete_line regclean --prefix "$work/home/");" \
    "regclean prefixes: $(HOME=$work/home WINEPREFIX= "$installed" prefixes 2>&1)"

# Keeping entries: a later check no longer lists them; --remove takes one out.
run() {  # run STATUS COMMAND...: the command's exit status must be STATUS
  local want=$1 status=0
  shift
  "$@" >"$work/run.out" 2>"$work/run.err" || status=$?
  [ $status = "$want" ] || { cat "$work/run.out" "$work/run.err" >&2; fail "$* exited $status, not $want"; }
}
found() { grep -x "[0-9]* problems found." "$work/run.out"; }
keep=$work/keep
"$copy" "$keep"
uninstall='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\PhotoTool'
run 0 $installed --prefix "$keep" keep "$uninstall"
run 0 $installed --prefix "$keep" keep 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls' \
  'C:\Program Files\PhotoTool\phthumb.dll'
run 0 $installed --prefix "$keep" keep \
  'HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{6B3C1E52-8F0A-4C1D-9E21-3A5D7C0B4E11}\InprocServer32'
run 0 $installed --prefix "$keep" keep --list
[ "$(wc -l <"$work/run.out")" = 3 ] || fail "keep --list: $(cat "$work/run.out")"
grep -q 'SharedDlls  \[value C:\\Program Files\\PhotoTool\\phthumb.dll\]$' "$work/run.out" ||
  fail "keep --list does not show the value kept: $(cat "$work/run.out")"
run 1 $installed --prefix "$keep" check
[ "$(found)" = "9 problems found." ] || fail "after keeping three entries: $(found)"
grep -q -e 'Uninstall\\PhotoTool' -e 'phthumb' "$work/run.out" && fail "a kept entry is still listed"
run 0 $installed --prefix "$keep" keep --remove "$uninstall"
run 1 $installed --prefix "$keep" check
[ "$(found)" = "10 problems found." ] || fail "after taking one out again: $(found)"
# Wrong keys, values and categories say which and change nothing.
run 2 $installed --prefix "$keep" keep 'HKLM\SOFTWARE\NoSuchKey'
grep -q 'NoSuchKey' "$work/run.err" || fail "keep does not name the wrong key"
run 2 $installed --prefix "$keep" keep 'NOROOT\Software'
run 2 $installed --prefix "$keep" keep 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls' 'C:\nothing.dll'
run 2 $installed --prefix "$keep" keep --remove "$uninstall"
run 2 $installed --prefix "$keep" resolve --yes --only SharedDlls
grep -q 'no category SharedDlls' "$work/run.err" || fail "resolve does not name the wrong category"
run 0 $installed --prefix "$keep" keep --list
[ "$(wc -l <"$work/run.out")" = 2 ] || fail "a wrong keep changed the list: $(cat "$work/run.out")"

# A list written in an editor: [RegList] right after the byte-order mark.
bom=$work/bom
"$copy" "$bom"
mkdir -p "$bom/drive_c/ProgramData/RegClean/RegCleanerDll"
printf '\xff\xfe' >"$bom/drive_c/ProgramData/RegClean/RegCleanerDll/BlackList.cfg"
printf '[RegList]\r\nHKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.oldsave\r\n' |
  iconv -f UTF-8 -t UTF-16LE >>"$bom/drive_c/ProgramData/RegClean/RegCleanerDll/BlackList.cfg"
run 1 $installed --prefix "$bom" check
[ "$(found)" = "11 problems found." ] || fail "a list beginning with [RegList] was not honoured: $(found)"

# Some categories only; the black list is as before afterwards (none here).
skip=$work/skip
"$copy" "$skip"
run 0 $installed --prefix "$skip" resolve --yes --skip SharedDllMissingProblems
run 1 $installed --prefix "$skip" check
[ "$(found)" = "3 problems found." ] && grep -q '(SharedDllMissingProblems): 3' "$work/run.out" ||
  fail "resolve --skip SharedDllMissingProblems left: $(cat "$work/run.out")"
[ ! -e "$skip/drive_c/ProgramData/RegClean/RegCleanerDll/BlackList.cfg" ] ||
  fail "resolve --skip left a black list behind"
only=$work/only
"$copy" "$only"
run 0 $installed --prefix "$only" resolve --yes --only inprocserver32problems
run 1 $installed --prefix "$only" check
[ "$(found)" = "10 problems found." ] && ! grep -q 'InprocServer32Problems' "$work/run.out" ||
  fail "resolve --only InprocServer32Problems left: $(cat "$work/run.out")"
echo "check_installed: the installed suite checked the demo prefix as the staged one does;" \
  "its manual page, completion, keep and resolve --only/--skip work"
