# Sourced by the scripts: start_xvfb FIRST LAST starts a private Xvfb on the
# first free display number in FIRST..LAST when DISPLAY is unset, exports
# DISPLAY and sets xvfb_pid (empty when a display was already there).
xvfb_pid=
start_xvfb() {
  [[ -z "${DISPLAY:-}" ]] || return 0
  local n
  for n in $(seq "$1" "$2"); do
    [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
    return 0
  done
  echo "no free X display number in $1..$2" >&2
  return 1
}
