# Sourced by the scripts whose steps need root (scripts/debian-system,
# tests/package/try-deb), after they have set $cache (scripts/cache-dir).

# Runs the script again through sudo unless it is root's already, saying so.
# sudo resets the environment: the cache and the packages' maintainer are
# passed on by name.
as_root() { # <why> <script> <arguments...>
  [ "$(id -u)" -ne 0 ] || return 0
  local why=$1 name
  shift
  name=$(basename "$1")
  command -v sudo > /dev/null || { echo "$name: needs root ($why), and sudo is not installed" >&2; exit 1; }
  echo "$name: asking sudo for root ($why)" >&2
  exec sudo env ZELMORA_CACHE="$cache" ${ZELMORA_MAINTAINER:+"ZELMORA_MAINTAINER=$ZELMORA_MAINTAINER"} \
    ${SOURCE_DATE_EPOCH:+"SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"} "$@"
}

# Run through sudo, what root made in the user's folders (the checkout, the
# cache) goes back to that user, so that they can rebuild and clean up as
# themself. A folder goes back only if it is the user's or lies in their
# home: `sudo` with root's home keeps root's cache root's. The systems in the
# cache's work/ stay root's: whoever runs them removes them.
give_back() { # <folder...>
  [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_UID:-}" ] && [ "$SUDO_UID" != 0 ] || return 0
  local folder home parent owner=$SUDO_UID:${SUDO_GID:-$SUDO_UID}
  home=$(getent passwd "$SUDO_UID" | cut -d: -f6)
  for folder in "$@"; do
    [ -d "$folder" ] || continue
    case "$folder/" in
      "$home"/?*)
        [ "$home" != / ] || continue
        # The folders on the way that root made for it (~/.cache) too.
        parent=$(dirname "$folder")
        while [ "$parent" != "$home" ]; do
          [ "$(stat -c %u "$parent")" != 0 ] || chown -h "$owner" "$parent"
          parent=$(dirname "$parent")
        done ;;
      *) [ "$(stat -c %u "$folder")" = "$SUDO_UID" ] || continue ;;
    esac
    find "$folder" -xdev -path "$cache/work/?*" -prune -o -user 0 -exec chown -h "$owner" {} + || true
  done
}

# Runs <command...> in the background and waits for it. A TERM, INT or HUP
# meanwhile is passed on as a TERM to it and to its children (where it is an
# `unshare --fork`, which ignores them, its child is the namespace's first
# process, scripts/ns-init), and the wait goes on until it has ended: only
# then may the caller clean up. Returns its status, or 143 once stopped.
stopping=
forwarding() {
  local child status=0
  trap 'stopping=1; signal_tree "$child"' TERM INT HUP
  { "$@" <&3 3<&- & } 3<&0
  child=$!
  while :; do
    wait "$child" && status=0 || status=$?
    kill -0 "$child" 2> /dev/null || break
  done
  trap 'stopping=1' TERM INT HUP
  [ -z "$stopping" ] || return 143
  return "$status"
}

signal_tree() { # <pid>
  local children
  children=$(cat /proc/"$1"/task/*/children 2> /dev/null) || true
  kill -TERM "$1" $children 2> /dev/null || true
}
