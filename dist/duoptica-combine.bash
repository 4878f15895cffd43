# bash completion for duoptica-combine. Its options are read from its --help, and what each
# option's value may be from its --completion-words, so the completion never falls behind the
# program.

# What follows an option: "words NAME...", "file" or "value" (anything), from the program itself.
_duoptica_combine_value() {
    "$1" --completion-words 2>/dev/null | awk -v option="$2" '
        $1 == option { $1 = ""; print substr($0, 2); exit }'
}

_duoptica_combine() {
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
    -h | --help | --version)
        return
        ;;
    --*)
        local kind names
        read -r kind names <<<"$(_duoptica_combine_value "$1" "$prev")"
        case $kind in
        words)
            COMPREPLY=($(compgen -W "$names" -- "$cur"))
            return
            ;;
        file)
            _filedir
            return
            ;;
        value)
            return
            ;;
        esac
        ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_parse_help "$1")" -- "$cur"))
        return
    fi
    # A batch takes two folders; otherwise pictures and the output, of any name.
    local word
    for word in "${words[@]:1:cword-1}"; do
        if [[ $word == --batch ]]; then
            _filedir -d
            return
        fi
    done
    _filedir
} &&
    complete -F _duoptica_combine duoptica-combine
