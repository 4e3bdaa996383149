# bash completion for ostmere
_ostmere() {
    local cur prev words cword
    _init_completion || return
    local commands="fingerprint vault diff diff-vault apply query verify keygen help"
    local global="--help --quiet --verbose --json --jobs --version"
    local command="" w value=0
    for w in "${words[@]:1:cword-1}"; do
        if ((value)); then value=0; continue; fi
        case "$w" in
            --filter|--report|-j|--jobs|--sign|--trusted-key) value=1 ;;
            -*) ;;
            *) command=$w; break ;;
        esac
    done
    case "$prev" in
        --filter|-j|--jobs) return ;;
        --report|--sign) _filedir; return ;;
        --trusted-key) _filedir pub; return ;;
    esac
    if [[ $cur == -* ]]; then
        local options=""
        case "$command" in
            fingerprint|vault) options="--filter" ;;
            diff) options="--report --filter --compact --sign" ;;
            diff-vault) options="--report --update-vault --compact --sign" ;;
            apply) options="--report --dry-run --continue-on-errors --ignore-fingerprint --keep-setuid --trusted-key --allow-unsigned" ;;
            query|verify) options="--trusted-key --allow-unsigned" ;;
        esac
        COMPREPLY=($(compgen -W "$global $options" -- "$cur"))
        return
    fi
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    elif [[ $command == help ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    elif [[ $command == fingerprint ]]; then
        _filedir -d
    else
        _filedir
    fi
}
complete -F _ostmere ostmere
