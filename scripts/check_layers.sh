#!/usr/bin/env bash
# Fails when an include between the folders of src/ points the wrong way.
# The allowed directions are the table in docs/architecture.md (the fenced
# block after "Which folder may include which"): a folder, then the folders
# (or single headers) it may include. A folder may always include its own
# headers. Each folder may only name folders listed above it, so the table
# itself can hold no cycle; every folder of src/ must be in it.
set -u
map=${1:?usage: check_layers.sh ARCHITECTURE_MD SRC_DIR}
src=${2:?usage: check_layers.sh ARCHITECTURE_MD SRC_DIR}

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

if [ "$failed" -ne 0 ]; then
  exit 1
fi
echo "layers: every include points down (${#order[@]} folders)"
