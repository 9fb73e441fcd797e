#!/usr/bin/env bash
# Fails when anything between the folders of src/ points the wrong way:
#   - an include;
#   - a link between the folders' libraries (src/CMakeLists.txt);
#   - given a build folder, a call: a symbol one library leaves undefined and
#     another library of the core defines.
# The allowed directions are the table in docs/architecture.md (the fenced
# block after "Which folder may include which"): a folder, then the folders
# (or single headers) it may include. A folder may always include its own
# headers. Each folder may only name folders listed above it, so the table
# itself can hold no cycle; every folder of src/ must be in it.
set -u
usage="usage: check_layers.sh ARCHITECTURE_MD SRC_DIR [BUILD_DIR]"
map=${1:?$usage}
src=${2:?$usage}
build=${3:-}

# The folder a source file belongs to: platform/<layer> for the platform
# layers, else its first folder under src/.
folder_of() {
  local relative=${1#"$src"/}
  case $relative in
    platform/*/*) echo "platform/$(echo "$relative" | cut -d/ -f2)" ;;
    *) echo "${relative%%/*}" ;;
  esac
}

declare -A allowed  # folder -> " allowed entries "
declare -A rank     # folder -> its line in the table
order=()
rules=$(awk '/^## Which folder may include which/ {found = 1}
             found && /^```/ {if (inside) exit; inside = 1; next}
             inside && NF && $1 !~ /^#/ {print}' "$map")
if [ -z "$rules" ]; then
  echo "no include table found in $map"
  exit 1
fi
failed=0
while read -r folder entries; do
  folder=${folder%:}
  for entry in $entries; do
    [ "$entry" = "-" ] && continue
    entry_folder=$entry
    [[ $entry == *.h ]] && entry_folder=$(folder_of "$src/$entry")
    if [ -z "${rank[$entry_folder]+x}" ]; then
      echo "table: $folder may include $entry, which is not listed above it"
      failed=1
    fi
  done
  rank[$folder]=${#order[@]}
  order+=("$folder")
  allowed[$folder]=" $entries "
done <<<"$rules"

while IFS= read -r -d '' file; do
  own=$(folder_of "$file")
  if [ -z "${allowed[$own]+x}" ]; then
    echo "$file: its folder $own is not in the table of $map"
    failed=1
    continue
  fi
  while IFS= read -r included; do
    case $included in
      */*) ;;
      *) continue ;;  # a header beside the file
    esac
    target=$(folder_of "$src/$included")
    [ "$target" = "$own" ] && continue
    case ${allowed[$own]} in
      *" $target "* | *" $included "*) continue ;;
    esac
    echo "$file: includes $included, but $own may not include $target"
    failed=1
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file")
done < <(find "$src" \( -name '*.h' -o -name '*.cpp' \) -print0)

# Whether folder own may use folder (or header) target.
may_use() {
  [ "$2" = "$1" ] && return 0
  case ${allowed[$1]} in
    *" $2 "*) return 0 ;;
  esac
  # A library that exposes the one header its folder may include.
  [[ ${allowed[$1]} == *" $2/"*.h" "* ]]
}

# The libraries: each call of tessmira_layer(<target> <folder> ...) names its
# folder; add_library(<target> <kind> <first source> ...) takes its first
# source's. Then every tessmira_ target a call of either or of
# target_link_libraries names is a link.
declare -A folder_of_target
calls=$(sed 's/#.*//' "$src/CMakeLists.txt" | tr '\n' ' ' | grep -oE '(tessmira_layer|add_library|target_link_libraries)\([^)]*\)')
while read -r call; do
  read -r -a words <<<"${call//[()]/ }"
  [[ ${words[1]} == tessmira_* ]] || continue  # the helper's own body
  case ${words[0]} in
    tessmira_layer) folder_of_target[${words[1]}]=${words[2]} ;;
    add_library) [ ${#words[@]} -gt 3 ] && folder_of_target[${words[1]}]=$(folder_of "$src/${words[3]}") ;;
  esac
done <<<"$calls"
links=0
while read -r call; do
  read -r -a words <<<"${call//[()]/ }"
  own=${folder_of_target[${words[1]}]:-}
  [ -z "$own" ] && continue
  for word in "${words[@]:2}"; do
    [[ $word == tessmira_* && $word != tessmira_flags ]] || continue
    target=${folder_of_target[$word]:-}
    if [ -z "$target" ]; then
      echo "src/CMakeLists.txt: ${words[1]} links $word, which is no folder's library"
      failed=1
    elif ! may_use "$own" "$target"; then
      echo "src/CMakeLists.txt: ${words[1]} ($own) links $word, but $own may not use $target"
      failed=1
    fi
    links=$((links + 1))
  done
done <<<"$calls"

# The calls, read from the core's archives: a symbol one leaves undefined
# that another defines strongly (inline functions of headers are weak, and
# the ports are defined in the platform layers, which are no archives).
calls_checked=""
if [ -n "$build" ]; then
  nm_tool=$(sed -n 's/^CMAKE_NM:FILEPATH=//p' "$build/CMakeCache.txt")
  declare -A definer
  archives=()
  for target in "${!folder_of_target[@]}"; do
    archive=$(find "$build/src" -maxdepth 1 -name "lib$target.a" | head -n 1)
    [ -n "$archive" ] && archives+=("$target")
  done
  if [ ${#archives[@]} -eq 0 ]; then
    echo "no library archives in $build/src"
    exit 1
  fi
  for target in "${archives[@]}"; do
    while read -r symbol; do
      definer[$symbol]=$target
    done < <("$nm_tool" -g --defined-only "$build/src/lib$target.a" | awk 'NF == 3 && $2 ~ /^[TDRB]$/ {print $3}')
  done
  for target in "${archives[@]}"; do
    own=${folder_of_target[$target]}
    while read -r symbol; do
      other=${definer[$symbol]:-}
      [ -z "$other" ] || [ "$other" = "$target" ] && continue
      if ! may_use "$own" "${folder_of_target[$other]}"; then
        echo "lib$target.a ($own) calls $symbol of lib$other.a, but $own may not use ${folder_of_target[$other]}"
        failed=1
      fi
    done < <("$nm_tool" -u "$build/src/lib$target.a" | awk '$1 == "U" {print $2}' | sort -u)
  done
  calls_checked=", the calls of ${#archives[@]} archives"
fi

if [ "$failed" -ne 0 ]; then
  exit 1
fi
echo "layers: every include and link points down (${#order[@]} folders, $links links$calls_checked)"
