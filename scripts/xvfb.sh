# Sourced: start_xvfb [FIRST LAST] starts a private Xvfb on a free display in
# FIRST..LAST (100..599) when DISPLAY is unset, exports DISPLAY, sets xvfb_pid
# and returns once it accepts connections; stop_xvfb ends it. A number is taken
# by creating /tmp/.X<n>-lock, as X servers do, under a shared lock: Xvfb's own
# choice only asks whether the socket is in use, and tests in network namespaces
# of their own do not see each other's sockets.
xvfb_pid= xvfb_lock=
start_xvfb() {
  [[ -z "${DISPLAY:-}" ]] || return 0
  local first=${1:-100} last=${2:-599} n fd owner
  exec {fd}>>/tmp/.korvane-xvfb.lock
  flock "$fd"
  for ((n = first; n <= last; n++)); do
    if [[ -e /tmp/.X$n-lock ]]; then
      # A lock whose server has ended is left over: take the number.
      read -r owner </tmp/.X$n-lock 2>/dev/null
      [[ $owner =~ ^[0-9]+$ ]] && kill -0 "$owner" 2>/dev/null && continue
      rm -f "/tmp/.X$n-lock"
    fi
    [[ -e /tmp/.X11-unix/X$n ]] && continue
    (set -C; printf '%10d\n' $$ >"/tmp/.X$n-lock") 2>/dev/null && break
  done
  flock -u "$fd"
  exec {fd}>&-
  if ((n > last)); then
    echo "no free X display number in $first..$last" >&2
    return 1
  fi
  xvfb_lock=/tmp/.X$n-lock
  # Xvfb writes the display number to the pipe once it accepts connections.
  exec {fd}< <(exec Xvfb ":$n" -nolock -displayfd 3 -screen 0 1280x800x24 -nolisten tcp \
                 3>&1 >/dev/null 2>&1)
  xvfb_pid=$!
  printf '%10d\n' "$xvfb_pid" >"$xvfb_lock"
  local ready=
  read -r -t 60 -u "$fd" ready || true
  exec {fd}<&-
  if [[ $ready != "$n" ]]; then
    echo "Xvfb did not start on display :$n" >&2
    stop_xvfb
    return 1
  fi
  export DISPLAY=":$n"
}

stop_xvfb() {
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  [[ -n "$xvfb_lock" ]] && rm -f "$xvfb_lock"
  xvfb_pid= xvfb_lock=
}
