# Sourced by the scripts that run Windows programs: one quiet 32-bit Wine prefix inside the build
# tree, with the Japanese locale so that the ANSI code page is 932.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${TAGWHIRL_WINEPREFIX:-$root/build/wine}"
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko installer prompts: those components are simply left out.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=ja_JP.UTF-8

tagwhirl_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot --init </dev/null >/dev/null 2>&1 || true
    wineserver --wait || true
  fi
  if [ ! -f "$WINEPREFIX/.tagwhirl-fonts" ]; then
    local reg="$WINEPREFIX/tagwhirl-fonts.reg"
    { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$root/scripts/wine-fonts.reg"; } > "$reg"
    wine regedit /S "$(winepath -w "$reg")" </dev/null >/dev/null 2>&1 || true
    wineserver --wait || true
    touch "$WINEPREFIX/.tagwhirl-fonts"
  fi
}

# Starts a persistent wineserver and Wine's own background processes, with their output going
# nowhere: a background process started by a test program would otherwise inherit the test's
# output pipe and keep ctest waiting for it to close.
tagwhirl_wine_up() {
  tagwhirl_wine_prefix
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

tagwhirl_wine_down() {
  wineserver -k >/dev/null 2>&1 || true
}
