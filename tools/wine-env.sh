# Sourced: the Wine environment of a build tree.  wine-env.sh BUILD_DIR
# VELBOX_LANE picks the test harness lane (tools/harness.sh); lane 0, the
# default, is the build tree's own prefix.
_vel_build=$(cd "${1:?build dir}" && pwd)
_vel_lane=${VELBOX_LANE:-0}
if [ "$_vel_lane" = 0 ]; then
  export WINEPREFIX="$_vel_build/wineprefix"
else
  export WINEPREFIX="$_vel_build/wineprefix-$_vel_lane"
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# Code page 936 for the ANSI side, as on the target systems.
export LC_ALL=zh_CN.UTF-8
# No Mono or Gecko installers: this machine has neither, and their prompts
# would block. No menu builder: it would copy every shortcut saved on the
# desktop into the Unix home's menus and desktop.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=};winemenubuilder.exe=d"
if [ -f "$_vel_build/harness/lane$_vel_lane.env" ]; then
  # shellcheck disable=SC1090
  source "$_vel_build/harness/lane$_vel_lane.env"
fi
unset _vel_build _vel_lane
