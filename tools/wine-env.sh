# Sourced: the Wine environment of a build tree.  wine-env.sh BUILD_DIR
_vel_build=$(cd "${1:?build dir}" && pwd)
export WINEPREFIX="$_vel_build/wineprefix"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# Code page 936 for the ANSI side, as on the target systems.
export LC_ALL=zh_CN.UTF-8
# No Mono or Gecko installers: this machine has neither, and their prompts
# would block. No menu builder: it would copy every shortcut saved on the
# desktop into the Unix home's menus and desktop.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=};winemenubuilder.exe=d"
if [ -f "$_vel_build/harness/env" ]; then
  # shellcheck disable=SC1091
  source "$_vel_build/harness/env"
fi
unset _vel_build
