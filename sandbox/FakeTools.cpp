#include "FakeTools.h"

namespace vxl_fixup::node_detail {

namespace {

// Logs "<declared path> [arg1] [arg2]..." as one write, so calls from
// several processes never interleave within a line.
const char* const kLogCall =
    "IFS= read -r line < \"$d/name\"\n"
    "for a in \"$@\"; do line=\"$line [$a]\"; done\n"
    "printf '%s\\n' \"$line\" >> /.vxlnode/commands.log\n";

const char* const kSysctlBody = R"SH(v=/.vxlnode/sysctl
if [ -d "$v/forced" ]; then
  [ -s "$v/forced/stdout" ] && cat "$v/forced/stdout"
  [ -s "$v/forced/stderr" ] && cat "$v/forced/stderr" >&2
  read -r rc < "$v/forced/exit"
  exit "$rc"
fi
names=1 write=0 quiet=0 ignore=0 load=0 all=0 rc=0 did=0
normkey() {
  k=$1
  case $k in */*) k=$(printf '%s' "$k" | tr / .) ;; esac
}
known() {
  case $1 in ''|.*|*..*|*/*) return 1 ;; esac
  [ -f "$v/values/$1" ]
}
nokey() {
  [ "$ignore" = 1 ] && return 0
  printf 'sysctl: cannot stat /proc/sys/%s: No such file or directory\n' \
    "$(printf '%s' "$1" | tr . /)" >&2
  rc=255
}
show() {
  normkey "$1"
  if ! known "$k"; then nokey "$k"; return; fi
  [ "$names" = 1 ] && printf '%s = ' "$k"
  cat "$v/values/$k"
  printf '\n'
}
setkey() {
  normkey "$1"
  if ! known "$k"; then nokey "$k"; return; fi
  if [ -e "$v/readonly/$k" ]; then
    printf "sysctl: permission denied on key '%s'\n" "$k" >&2
    rc=255
    return
  fi
  printf '%s' "$2" > "$v/values/$k"
  [ "$quiet" = 1 ] || printf '%s = %s\n' "$k" "$2"
}
assign() {
  case $1 in
    *=*) setkey "${1%%=*}" "${1#*=}" ;;
    *) printf 'sysctl: "%s" must be of the form name=value\n' "$1" >&2; rc=255 ;;
  esac
}
trim() {
  t=$1
  while :; do case $t in [[:blank:]]*) t=${t#?} ;; *) break ;; esac; done
  while :; do case $t in *[[:blank:]]) t=${t%?} ;; *) break ;; esac; done
}
loadfile() {
  if [ ! -r "$1" ]; then
    printf 'sysctl: cannot open "%s": No such file or directory\n' "$1" >&2
    rc=255
    return
  fi
  while IFS= read -r l || [ -n "$l" ]; do
    trim "$l"
    l=$t
    case $l in ''|'#'*|';'*) continue ;; esac
    lax=$ignore
    case $l in -*) ignore=1; l=${l#-} ;; esac
    case $l in
      *=*) trim "${l%%=*}"; key=$t; trim "${l#*=}"; setkey "$key" "$t" ;;
    esac
    ignore=$lax
  done < "$1"
}
for a in "$@"; do
  case $a in
    --all) all=1 ;;
    --values) names=0 ;;
    --write) write=1 ;;
    --quiet) quiet=1 ;;
    --ignore) ignore=1 ;;
    --load|--load=*|-p*) load=1 ;;
    --*) printf "sysctl: unrecognized option '%s'\n" "$a" >&2; exit 1 ;;
    -?*)
      f=${a#-}
      while [ -n "$f" ]; do
        c=${f%"${f#?}"}
        f=${f#?}
        case $c in
          n) names=0 ;;
          w) write=1 ;;
          q) quiet=1 ;;
          e) ignore=1 ;;
          a|A|X) all=1 ;;
          N|b) ;;
          *) printf "sysctl: invalid option -- '%s'\n" "$c" >&2; exit 1 ;;
        esac
      done ;;
  esac
done
for a in "$@"; do
  case $a in
    -p?*) did=1; loadfile "${a#-p}" ;;
    --load=*) did=1; loadfile "${a#--load=}" ;;
    -*) ;;
    *)
      did=1
      if [ "$load" = 1 ]; then loadfile "$a"
      elif [ "$write" = 1 ]; then assign "$a"
      else case $a in *=*) assign "$a" ;; *) show "$a" ;; esac
      fi ;;
  esac
done
if [ "$did" = 0 ]; then
  if [ "$load" = 1 ]; then loadfile /etc/sysctl.conf
  elif [ "$all" = 1 ]; then
    for f in "$v"/values/*; do [ -f "$f" ] && show "${f##*/}"; done
  else
    printf 'sysctl: no variables specified\n' >&2
    exit 1
  fi
fi
exit "$rc"
)SH";

}  // namespace

std::string toolDir(int id) { return "/.vxlnode/tools/" + std::to_string(id); }

std::string fakeToolScript(int id) {
    return "#!/bin/sh\n"
           "# Fake tool of the test node: logs the call, answers as the test asked.\n"
           "d=" +
           toolDir(id) + "\n" + kLogCall +
           "[ -s \"$d/stdout\" ] && cat \"$d/stdout\"\n"
           "[ -s \"$d/stderr\" ] && cat \"$d/stderr\" >&2\n"
           "read -r rc < \"$d/exit\"\n"
           "exit \"$rc\"\n";
}

std::string fakeSysctlScript(int id) {
    return "#!/bin/sh\n"
           "# Fake sysctl of the test node: one file per kernel value under\n"
           "# /.vxlnode/sysctl/values, kept byte for byte; read-only keys are\n"
           "# marked in /.vxlnode/sysctl/readonly.\n"
           "d=" +
           toolDir(id) + "\n" + kLogCall + kSysctlBody;
}

std::string sysctlKey(const std::string& key) {
    std::string k = key;
    for (char& c : k) {
        if (c == '/') c = '.';
    }
    if (k.empty() || k[0] == '.' || k.find("..") != std::string::npos) return {};
    for (char c : k) {
        if (c == '\n' || c == '\0' || c == '=' || c == ' ' || c == '\t') return {};
    }
    return k;
}

}  // namespace vxl_fixup::node_detail
