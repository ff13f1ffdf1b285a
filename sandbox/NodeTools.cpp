#include "NodeTools.h"

#include <dirent.h>
#include <sys/stat.h>

#include <optional>

#include "NodeLayers.h"

namespace vxl_fixup::node_detail {

const char* const kLogCall =
    "IFS= read -r line < \"$d/name\"\n"
    "for a in \"$@\"; do line=\"$line [$a]\"; done\n"
    "printf '%s\\n' \"$line\" >> /.vxlnode/commands.log\n";

namespace {

const char* const kRecorderBody = R"SH(if [ -f "$d/reads" ]; then
  while IFS= read -r word; do
    if [ "$1" = "$word" ]; then
      IFS= read -r real < "$d/real"
      exec "$real" "$@"
    fi
  done < "$d/reads"
fi
)SH";

// Option parsing and output of sysctl; the kernel is the caller's functions.
const char* const kSysctlBody = R"SH(names=1 write=0 quiet=0 ignore=0 load=0 all=0 rc=0 did=0
normkey() {
  k=$1
  case $k in */*) k=$(printf '%s' "$k" | tr / .) ;; esac
}
valid() {
  case $1 in ''|.*|*..*|*/*) return 1 ;; esac
  known "$1"
}
nokey() {
  [ "$ignore" = 1 ] && return 0
  printf 'sysctl: cannot stat /proc/sys/%s: No such file or directory\n' \
    "$(printf '%s' "$1" | tr . /)" >&2
  rc=255
}
show() {
  normkey "$1"
  if ! valid "$k"; then nokey "$k"; return; fi
  [ "$names" = 1 ] && printf '%s = ' "$k"
  current "$k"
  printf '\n'
}
setkey() {
  normkey "$1"
  if ! valid "$k"; then nokey "$k"; return; fi
  if ! writable "$k"; then
    printf "sysctl: permission denied on key '%s'\n" "$k" >&2
    rc=255
    return
  fi
  store "$k" "$2"
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
    for key in $(keys); do show "$key"; done
  else
    printf 'sysctl: no variables specified\n' >&2
    exit 1
  fi
fi
exit "$rc"
)SH";

// The machine's kernel, read-only: /proc/sys until the payload writes a key.
// A key is writable when the kernel's file is writable by its owner.
const char* const kRecordingKernel = R"SH(v=/.vxlnode/sysctl
procfile() { pf=/proc/sys/$(printf '%s' "$1" | tr . /); }
known() {
  [ -f "$v/values/$1" ] || [ -f "$v/machine/$1" ] && return 0
  procfile "$1"
  [ -f "$pf" ]
}
current() {
  if [ -f "$v/values/$1" ]; then cat "$v/values/$1"; return; fi
  if [ -f "$v/machine/$1" ]; then cat "$v/machine/$1"; return; fi
  procfile "$1"
  printf '%s' "$(cat "$pf")"
}
writable() {
  [ -f "$v/values/$1" ] && return 0
  procfile "$1"
  case $(stat -L -c %a "$pf") in [2367]??) return 0 ;; esac
  return 1
}
store() {
  [ -f "$v/values/$1" ] || current "$1" > "$v/original/$1"
  printf '%s' "$2" > "$v/values/$1"
}
keys() {
  (cd /proc/sys && find . -type f | sed 's|^\./||; s|/|.|g' | sort)
}
)SH";

}  // namespace

std::string toolDir(int id) { return "/.vxlnode/tools/" + std::to_string(id); }

std::string toolScript(int id, const std::string& comment, const std::string& body) {
    return "#!/bin/sh\n# " + comment + "\nd=" + toolDir(id) + "\n" + body;
}

std::string recorderScript(int id) {
    return toolScript(id, "Recorder of the node: logs the call instead of acting, and succeeds.",
                      kRecorderBody + std::string(kLogCall) + "exit 0\n");
}

std::string sysctlScript(int id, const std::string& comment, const std::string& kernel) {
    return toolScript(id, comment, kLogCall + kernel + kSysctlBody);
}

std::string recordingSysctlScript(int id) {
    return sysctlScript(id,
                        "Recording sysctl of the node: reads the machine's kernel values,\n"
                        "# keeps what is written in /.vxlnode/sysctl.",
                        kRecordingKernel);
}

std::vector<std::pair<std::string, std::string>> namespacedKernelValues() {
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::string> pending = {"fs/mqueue", "net"};
    for (const char* ipc : {"sem", "shmmax", "shmall", "shmmni", "shm_rmid_forced", "msgmax",
                            "msgmnb", "msgmni", "auto_msgmni"}) {
        pending.push_back(std::string("kernel/") + ipc);
    }
    while (!pending.empty()) {
        const std::string rel = pending.back();
        pending.pop_back();
        const std::string path = "/proc/sys/" + rel;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            DIR* dir = ::opendir(path.c_str());
            while (const struct dirent* e = dir ? ::readdir(dir) : nullptr) {
                const std::string name = e->d_name;
                // A dotted name (an interface "eth0.5") would not stay one key.
                if (name.find('.') == std::string::npos) pending.push_back(rel + "/" + name);
            }
            if (dir != nullptr) ::closedir(dir);
            continue;
        }
        std::optional<std::string> value = readWholeFile(path);
        const std::string key = sysctlKey(rel);
        if (!value || key.empty()) continue;  // write-only, or no key
        while (!value->empty() && value->back() == '\n') value->pop_back();
        values.emplace_back(key, *value);
    }
    return values;
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
