# Sourced by the scripts: start_xvfb starts a private Xvfb when DISPLAY is
# unset, exports DISPLAY and sets xvfb_pid (empty when a display was already
# there). It returns once the server accepts connections.
#
# Xvfb picks the display number itself (-displayfd): it takes the first
# number whose lock file it can create, so tests started side by side never
# share a server. Arguments, if any, are ignored (an older form took a range
# of display numbers).
xvfb_pid=
start_xvfb() {
  [[ -z "${DISPLAY:-}" ]] || return 0
  local fd n=
  # Xvfb writes the display number to the pipe once it is ready.
  exec {fd}< <(exec Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>&1 >/dev/null 2>&1)
  xvfb_pid=$!
  read -r -t 60 -u "$fd" n || true
  exec {fd}<&-
  if [[ ! $n =~ ^[0-9]+$ ]]; then
    echo "Xvfb did not start" >&2
    kill "$xvfb_pid" 2>/dev/null
    xvfb_pid=
    return 1
  fi
  export DISPLAY=":$n"
}

# stop_xvfb ends the Xvfb that start_xvfb started, if any, and waits for it.
stop_xvfb() {
  [[ -n "$xvfb_pid" ]] || return 0
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=
}
