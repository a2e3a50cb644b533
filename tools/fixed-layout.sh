# Sourced first by every script that starts Wine: runs the script again with
# the address space laid out without randomisation, for it and for every
# process it starts. This system's Wine has no preloader to reserve the
# addresses Windows programs are given, and with a randomised layout a new
# process now and then finds one already taken ("failed to map the shared
# user data"): it dies at its start, or its parent waits for it for good
# (seen under load: a notification area that never came, a tool that never
# returned).
if [ -z "${VELBOX_FIXED_LAYOUT:-}" ] && command -v setarch >/dev/null 2>&1; then
  export VELBOX_FIXED_LAYOUT=1
  exec setarch "$(uname -m)" -R bash "$0" "$@"
fi
