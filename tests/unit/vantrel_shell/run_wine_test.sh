#!/usr/bin/env bash
# Runs one Win32 test program under Wine: a fresh prefix, a private X server (display number
# from -displayfd), a Russian locale (ANSI 1251). Its output is shown in UTF-8; its exit code
# is the test's. Everything started here is ended on exit.
set -euo pipefail
exe=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/krt-vantrel-shell.XXXXXX")
xvfb_pid=
cleanup() {
    if [ -d "$work/prefix" ]; then WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1 || true; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 200); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
display=$(tr -dc 0-9 <"$work/display")
[ -n "$display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

if locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
    export LC_ALL=ru_RU.UTF-8
else
    localedef -i ru_RU -f UTF-8 "$work/ru_RU.UTF-8" >/dev/null 2>&1
    export LOCPATH=$work LC_ALL=ru_RU.UTF-8
fi
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=:$display
timeout 180 wineboot -i >"$work/boot.log" 2>&1
# A crashing program must end at once instead of waiting in the debugger.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f \
    >>"$work/boot.log" 2>&1

set +e
timeout 300 wine "$exe" </dev/null >"$work/out.txt" 2>"$work/err.txt"
code=$?
set -e
iconv -f CP1251 -t UTF-8 "$work/out.txt"
[ "$code" = 0 ] || { echo "exit code $code" >&2; tail -20 "$work/err.txt" >&2; }
exit "$code"
