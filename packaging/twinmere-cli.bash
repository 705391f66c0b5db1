# bash completion for twinmere-cli, and for twinmere, which reads the same
# command line: switches first, then the Source and the Target folder.

_twinmere_cli()
{
    local cur prev words cword
    _init_completion || return

    case $prev in
        -[rR] | -[rR][jJ] | -[xX][fF])
            _filedir
            return
            ;;
        -[vV])
            _filedir -d
            return
            ;;
        -[rR][rRlL] | -[vV][kK])
            return # a number
            ;;
        -[xX])
            return # a pattern
            ;;
    esac

    # The first word that is neither a switch nor a switch's value ends the
    # switches; the folders follow it.
    local i folders=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -[rR] | -[rR][rRlLjJ] | -[vV] | -[vV][kK] | -[xX] | -[xX][fF]) ((i++)) ;;
            -*) ((folders == 0)) || ((folders++)) ;;
            *) ((folders++)) ;;
        esac
    done

    if ((folders == 0)) && [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-s -q -m -n -bi -d -fd -new -c -ndl -ns -ad -xs -x -xf
            -qs -ds -r -a -rr -rl -rj -v -vk -tr --help --version' -- "$cur"))
    elif ((folders < 2)); then
        _filedir -d
    fi
} &&
    complete -F _twinmere_cli twinmere-cli twinmere

# ex: filetype=sh
