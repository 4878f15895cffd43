# bash completion for duoptica-combine. Its options, modes and layouts are read from its --help,
# so the completion never falls behind the program.

# The names listed under a heading of the help, up to the blank line that ends the list.
_duoptica_combine_listed() {
    "$1" --help 2>/dev/null | awk -v heading="$2" '
        index($0, heading) == 1 { inside = 1; next }
        inside && /^$/ { exit }
        inside && /^  [a-z]/ { print $1 }'
}

_duoptica_combine() {
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
    --mode)
        COMPREPLY=($(compgen -W "$(_duoptica_combine_listed "$1" 'Modes (')" -- "$cur"))
        return
        ;;
    --layout)
        COMPREPLY=($(compgen -W "$(_duoptica_combine_listed "$1" 'Layouts (')" -- "$cur"))
        return
        ;;
    --format)
        COMPREPLY=($(compgen -W 'bmp png jpg' -- "$cur"))
        return
        ;;
    --window | --shard)
        COMPREPLY=($(compgen -W 'auto' -- "$cur"))
        return
        ;;
    --quality | -h | --help | --version)
        return
        ;;
    --report)
        _filedir
        return
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
