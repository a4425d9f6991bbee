# Bash completion for users-import: the password file first, then the
# options it has not been given yet. Its input comes on standard input.

_users_import() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  COMPREPLY=()

  if ((COMP_CWORD == 1)); then
    if [[ $cur == -* ]]; then
      mapfile -t COMPREPLY < <(compgen -W "-h" -- "$cur")
    else
      # Files, and directories to walk into.
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
    return 0
  fi

  # Offer each option once: a second one is refused by the program, and so
  # is --exact beside -d.
  local options=" -r -d --exact -n -h " word i
  for ((i = 2; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case $word in
      -r | -n) options=${options/ $word / } ;;
      -d | --exact) options=${options/ -d / } options=${options/ --exact / } ;;
    esac
  done
  mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
}

complete -F _users_import users-import
