# Bash completion for users: the operation word first, then the options that
# fit it, and user names from the password file that the program would use.

# Prints the user names of the password file that `users` started as $1
# uses: its path with the last ".exe" and all behind cut off, plus ".dat".
_users_names() {
  local file="${1%.exe*}.dat"
  [[ -r $file ]] || return 0
  # A record line has exactly three fields, the maximal runs without ':'.
  awk -F: '{
    sub(/\r$/, "")
    n = 0
    for (i = 1; i <= NF; i++) if ($i != "") { n++; if (n == 1) name = $i }
    if (n == 3) print name
  }' "$file" 2>/dev/null
}

_users() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()

  if ((COMP_CWORD == 1)); then
    mapfile -t COMPREPLY < <(compgen -W "add remove check -h" -- "$cur")
    return 0
  fi

  case $prev in
    -u)
      local name
      while IFS= read -r name; do
        [[ $name == "$cur"* ]] && COMPREPLY+=("$name")
      done < <(_users_names "${COMP_WORDS[0]}")
      return 0
      ;;
    -p)
      return 0  # passwords are never completed
      ;;
  esac

  local options
  case ${COMP_WORDS[1]} in
    add) options="-r -u -p -h" ;;
    remove) options="-u -h" ;;
    check) options="-u -p -h" ;;
    *) return 0 ;;
  esac
  # Offer each option once: a second one is refused by the program.
  local word i
  for ((i = 2; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case $word in
      -r | -u | -p) options=" $options " && options=${options/ $word / } ;;
    esac
  done
  mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
}

complete -F _users users
