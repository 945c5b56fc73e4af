# bash completion for dvkc
_dvkc()
{
    local cur prev words cword
    _init_completion 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    }

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        query | serve | demo | codes | check) command=${words[i]}; break ;;
        esac
    done

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "query serve demo codes check --help --version" -- "$cur"))
        return
    fi

    case $prev in
    # One name a line, so that names with spaces stay whole.
    --trust | --identity | --signature-file | --cert | --key | --chain | --codes)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur"); compopt -o filenames 2>/dev/null; return ;;
    --records | --output-file | -o)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur"; compgen -W "-" -- "$cur")
        compopt -o filenames 2>/dev/null; return ;;
    --pki-dir)
        mapfile -t COMPREPLY < <(compgen -d -- "$cur"); compopt -o filenames 2>/dev/null; return ;;
    --output)
        if [[ $command == check ]]; then
            COMPREPLY=($(compgen -W "text json" -- "$cur")); return
        fi
        COMPREPLY=($(compgen -W "table csv json jsonl" -- "$cur")); return ;;
    --sign-command)
        COMPREPLY=($(compgen -c -- "$cur")); return ;;
    --host | --port | --path | --signature | --seed | --batch-size | --jobs | --timeout | --sign-timeout | \
        --retry | --listen | --error | --tls-max)
        return ;;
    esac

    local options
    case $command in
    query)
        options="--host --port --path --trust --identity --records --signature --signature-file
            --sign-command --seed --output --output-file --dry-run --verbose --batch-size --jobs
            --timeout --sign-timeout --retry --fail-fast --quiet --no-progress --help" ;;
    serve) options="--listen --cert --key --chain --pki-dir --codes --error --tls-max --help" ;;
    check) options="--host --port --trust --output --timeout --help" ;;
    codes) options="--markdown --help" ;;
    demo) options="--help" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
}
complete -F _dvkc dvkc
