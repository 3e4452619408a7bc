#!/bin/sh
# Downloads a Debian source package (.dsc, upstream tarball, Debian part) into <dest-dir>.
#
# The machine's own Debian sources are the way in: every enabled "deb" entry of apt's source
# list and source parts (one-line .list and deb822 .sources files) that is Debian's becomes a
# "deb-src" entry with the same URIs, suites, components and keyring, written into a private
# apt folder (<dest-dir>/apt). Mirrors, caches and proxies configured for apt therefore work
# here too, and the system's apt configuration and lists are left untouched.
#
# An entry is Debian's when its keyring (Signed-By) is one of the Debian archive keyrings, or,
# with no keyring file named, when its URI has the path every Debian archive is served under
# (.../debian or .../debian-security).
set -eu

if [ $# -ne 2 ] || [ -z "$1" ] || [ -z "$2" ]; then
  echo "usage: $0 <source-package> <dest-dir>" >&2
  exit 1
fi
package=$1
mkdir -p "$2"
dest=$(cd "$2" && pwd)
apt_dir=$dest/apt

eval "$(apt-config shell source_list Dir::Etc::SourceList/f source_parts Dir::Etc::SourceParts/d)"
set --
[ -f "$source_list" ] && set -- "$source_list"
for f in "$source_parts"*.list "$source_parts"*.sources; do
  [ -f "$f" ] && set -- "$@" "$f"
done

mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$apt_dir/sources.list.d"
: > "$apt_dir/sources.list"
private=$apt_dir/sources.list.d/debian.sources
# Each file is read by the parser for its format; the result is one deb822 file of deb-src
# paragraphs. Keys embedded in a Signed-By field are carried over line for line.
for f in "$@"; do
  case "$f" in
    *.sources) format=deb822 ;;
    *) format=oneline ;;
  esac
  awk -v format="$format" '
    function debian_uri(uri) {
      sub(/\/+$/, "", uri)
      return uri ~ /^(https?|ftp|file|mirror(\+[a-z]+)?):.*\/debian(-security)?$/
    }
    # A keyring named by file decides alone; an embedded key or none leaves it to the URI.
    function keyring_kind(key,   n, i, parts) {
      if (key == "" || key ~ /BEGIN PGP/) return "none"
      n = split(key, parts, /[ ,]+/)
      for (i = 1; i <= n; i++)
        if (parts[i] ~ /(^|\/)debian-archive-[^\/]*$/) return "debian"
      return "other"
    }
    function emit(uris, suites, components, key, trusted,   n, i, u, kept, kind) {
      kind = keyring_kind(key)
      if (kind == "other") return
      n = split(uris, u, /[ \t]+/)
      kept = ""
      for (i = 1; i <= n; i++)
        if (u[i] != "" && (kind == "debian" || debian_uri(u[i])))
          kept = kept (kept == "" ? "" : " ") u[i]
      if (kept == "") return
      print "Types: deb-src"
      print "URIs: " kept
      print "Suites: " suites
      if (components != "") print "Components: " components
      if (key != "") print "Signed-By: " key
      if (trusted != "") print "Trusted: " trusted
      print ""
    }
    function reset() {
      types = ""; uris = ""; suites = ""; components = ""; key = ""; trusted = ""
      enabled = "yes"; field = ""
    }
    function flush() {
      if (enabled != "no" && (" " types " ") ~ / deb /) emit(uris, suites, components, key, trusted)
      reset()
    }
    BEGIN { reset() }
    format == "oneline" {
      line = $0
      sub(/#.*/, "", line)
      if (line !~ /^[ \t]*deb[ \t]/) next
      sub(/^[ \t]*deb[ \t]+/, "", line)
      opts = ""
      if (line ~ /^\[/) {
        opts = substr(line, 2, index(line, "]") - 2)
        line = substr(line, index(line, "]") + 1)
      }
      key = ""; trusted = ""
      n = split(opts, o, /[ \t]+/)
      for (i = 1; i <= n; i++) {
        if (o[i] ~ /^signed-by=/) { key = substr(o[i], 11); gsub(/,/, " ", key) }
        if (o[i] ~ /^trusted=/) trusted = substr(o[i], 9)
      }
      n = split(line, w, /[ \t]+/)
      j = 0
      for (i = 1; i <= n; i++) if (w[i] != "") words[++j] = w[i]
      if (j < 2) next
      comps = ""
      for (i = 3; i <= j; i++) comps = comps (comps == "" ? "" : " ") words[i]
      emit(words[1], words[2], comps, key, trusted)
      next
    }
    format == "deb822" && /^#/ { next }
    format == "deb822" && /^[ \t]*$/ { flush(); next }
    format == "deb822" && /^[ \t]/ {
      if (field == "signed-by") key = key "\n" $0
      next
    }
    format == "deb822" {
      colon = index($0, ":")
      if (colon == 0) next
      field = tolower(substr($0, 1, colon - 1))
      value = substr($0, colon + 1)
      gsub(/^[ \t]+|[ \t]+$/, "", value)
      if (field == "types") types = value
      else if (field == "uris") uris = value
      else if (field == "suites") suites = value
      else if (field == "components") components = value
      else if (field == "signed-by") key = value
      else if (field == "trusted") trusted = value
      else if (field == "enabled") enabled = tolower(value)
    }
    END { if (format == "deb822") flush() }
  ' "$f"
done > "$private"

if [ ! -s "$private" ]; then
  echo "no Debian source configured in apt's source lists: cannot fetch $package's source package" >&2
  exit 1
fi

set -- -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/sources.list.d" \
  -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir" -o APT::Sandbox::User=root
apt-get "$@" -qq update
cd "$dest"

# apt takes the newest version. Should a mirror lack its files (one that lags behind its
# index), the other versions it offers are tried, newest first. A missing upstream signature
# (.asc) alone is let pass: it is checked only when the package is unpacked with dpkg-source,
# and every file that did arrive has been checked against the signed index.
log=$apt_dir/source.log
versions=$(apt-cache "$@" madison "$package" | awk -F'|' '$3 ~ /Sources/ { gsub(/ /, "", $2); print $2 }' \
  | sort -u -r -V)
for version in "" $versions; do
  if apt-get "$@" -qq source --download-only "$package${version:+=$version}" 2>"$log"; then
    exit 0
  fi
  missing=$(sed -n 's/^E: Failed to fetch \([a-z+]*:[^ ]*\).*/\1/p' "$log")
  if [ -n "$missing" ] && ! printf '%s\n' "$missing" | grep -qv '\.asc$' && ls ./*.dsc >/dev/null 2>&1; then
    echo "note: $package: the mirror has no upstream signature $(printf "%s\n" "$missing" | sed "s|.*/||" | tr "\n" " ")- not needed to build" >&2
    exit 0
  fi
done
cat "$log" >&2
exit 1
