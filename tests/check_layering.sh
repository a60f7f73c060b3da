#!/usr/bin/env bash
# Fails when a folder includes a header of a folder it must not depend on. The engine
# is layered platform <- net <- ftp <- session; listing and sites stand on platform
# alone, and ftp may use listing (parser and directory cache). The user interface sees
# the engine through session, listing and sites only; app puts everything together.
top=${1:-.}
cd "$top" || exit 2

declare -A allowed=(
  [platform]="platform"
  [net]="net platform"
  [listing]="listing platform"
  [sites]="sites platform"
  [ftp]="ftp net platform listing"
  [session]="session ftp net platform listing sites"
  [ui]="ui session listing sites"
)
folders="platform net ftp listing sites session ui app"
pattern="^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"](\\.\\./)*($(echo $folders | tr ' ' '|'))/"

status=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r hit; do
    [ -n "$hit" ] || continue
    included=$(printf '%s\n' "${hit#*:*:}" | sed -E "s@.*[<\"](\\.\\./)*([a-z]+)/.*@\\2@")
    case " ${allowed[$folder]} " in
      *" $included "*) ;;
      *)
        [ $status -eq 0 ] && echo "Includes across the layers:"
        echo "$hit    ($folder may include only: ${allowed[$folder]})"
        status=1
        ;;
    esac
  done < <(grep -rnE "$pattern" "$folder" --include='*.h' --include='*.hpp' --include='*.cpp' 2>/dev/null)
done
[ $status -eq 0 ] && echo "every folder includes only the folders below it"
exit $status
