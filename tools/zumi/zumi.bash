# Bash completion of the zumi command: commands, options, and service and
# property names asked of the live bus. Everything about a command is read
# from its help, so a new command completes without a change here: the
# options from its Options section (those shown with a placeholder take a
# value), the positionals from its Usage line, where SERVICE and SOURCE are
# services, PROPERTY a property of the SERVICE before it, FILE and RECORDING
# files. An option's value completes as a service for --as, a file for an
# OUT or FILE, and the words of an "a|b" placeholder otherwise.

_zumi_commands() {
    "$1" --help 2>/dev/null | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p'
}

_zumi_bus() {
    # A bus that does not answer must not hang the shell.
    timeout 2 "$@" 2>/dev/null
}

# The services running or activatable, without the "(activatable)" mark.
_zumi_services() {
    _zumi_bus "$@" list | cut -d' ' -f1
}

_zumi() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    # The bus options before the command go to every zumi asked here too, so
    # that services are those of the bus chosen.
    local -a zumi=("${COMP_WORDS[0]}")
    local first=1
    while [ "$first" -lt "$COMP_CWORD" ]; do
        case ${COMP_WORDS[first]} in
            --system | --session) zumi+=("${COMP_WORDS[first]}") ;;
            --address) zumi+=(--address "${COMP_WORDS[first+1]}"); ((first++)) ;;
            *) break ;;
        esac
        ((first++))
    done
    [ "$prev" = --address ] && [ "$first" -gt "$COMP_CWORD" ] && return
    if [ "$COMP_CWORD" -eq "$first" ]; then
        COMPREPLY=($(compgen -W "$(_zumi_commands "${zumi[0]}") help --help --version --system --session --address" -- "$cur"))
        return
    fi
    local command=${COMP_WORDS[first]}
    if [ "$command" = help ]; then
        [ "$COMP_CWORD" -eq $((first + 1)) ] && COMPREPLY=($(compgen -W "$(_zumi_commands "${zumi[0]}")" -- "$cur"))
        return
    fi
    local help
    help=$("${zumi[0]}" "$command" --help 2>/dev/null) || return
    local options valued
    options=$(sed -n '/^Options:/,$s/^  *\(-[a-z], \)\{0,1\}\(--[a-z][a-z-]*\).*/\2/p' <<<"$help")
    # A placeholder follows its option after one space: OUT, FILE, html|svg.
    valued=$(sed -n '/^Options:/,$s/^  *\(-[a-z]\), \(--[a-z][a-z-]*\) [A-Za-z].*/\1\n\2/p; /^Options:/,$s/^  *\(--[a-z][a-z-]*\) [A-Za-z].*/\1/p' <<<"$help")

    # The positionals so far, skipping options and the values they take.
    local i word ended= service= position=0
    local -a names
    names=($(sed -n 's/^Usage: zumi [a-z-]* //p' <<<"$help" | sed 's/\[[^]]*\]//g; s/\.\.\.//g; s/-[a-z] [A-Z]*//g'))
    for ((i = first + 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [ -z "$ended" ] && [ "$word" = -- ]; then ended=1; continue; fi
        if [ -z "$ended" ] && [[ $word == -?* ]]; then
            grep -qx -- "${word%%=*}" <<<"$valued" && [[ $word != *=* ]] && ((i++))
            continue
        fi
        [ "${names[position]}" = SERVICE ] && service=$word
        ((position++))
    done

    if [ -z "$ended" ] && grep -qx -- "$prev" <<<"$valued"; then
        local placeholder
        placeholder=$(sed -n '/^Options:/,$p' <<<"$help" | grep -E -- "^ +($prev,|$prev |-[a-z], $prev )" |
            head -1 | sed 's/^ *\(-[a-z], \)\{0,1\}--[a-z-]* \([^ ]*\).*/\2/')
        if [ "$prev" = --as ]; then
            COMPREPLY=($(compgen -W "$(_zumi_services "${zumi[@]}")" -- "$cur"))
        elif [ "$prev" = --owner ]; then
            COMPREPLY=($(compgen -u -- "$cur"))
        elif [ "$prev" = --writer ] || [ "$prev" = --reader ]; then
            COMPREPLY=($(compgen -g -- "$cur"))
        elif [ "$placeholder" = OUT ] || [ "$placeholder" = FILE ]; then
            COMPREPLY=($(compgen -f -- "$cur"))
        elif [[ $placeholder == *'|'* ]]; then
            COMPREPLY=($(compgen -W "${placeholder//|/ }" -- "$cur"))
        fi
        return
    fi
    if [ -z "$ended" ] && [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case ${names[position]} in
        SERVICE | SOURCE) COMPREPLY=($(compgen -W "$(_zumi_services "${zumi[@]}")" -- "$cur")) ;;
        PROPERTY)
            [ -n "$service" ] &&
                COMPREPLY=($(compgen -W "$(_zumi_bus "${zumi[@]}" list -- "$service" | cut -d' ' -f1)" -- "$cur"))
            ;;
        FILE | RECORDING) COMPREPLY=($(compgen -f -- "$cur")) ;;
    esac
}

complete -F _zumi zumi
