# bash completion for tessaly-cli                                       -*- shell-script -*-
# Commands, options, the unit's two folders, and local files by the extension each command takes.
# Names of files on the unit are not completed: that would talk to the unit on every Tab.

# The unit's folders, matched whatever quoting the word has so far ('A:\M, A:\\M, A:). The
# inserted name is quoted by readline as a file name is, so its backslash reaches the program.
_tessaly_cli_folders()
{
    local folder typed=${cur//[\'\"\\]/}
    COMPREPLY=()
    for folder in 'A:\Maps' 'A:\Logs'; do
        [[ ${folder//\\/} == "$typed"* ]] && COMPREPLY+=("$folder")
    done
    compopt -o filenames 2>/dev/null
    # Readline's word starts after a colon when the word is not quoted.
    __ltrim_colon_completions "$cur"
}

_tessaly_cli()
{
    local cur prev words cword
    _init_completion -n := || return

    # The command is the first word after the global options.
    local i command="" at=0
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} != -* ]]; then
            command=${words[i]}
            at=$i
            break
        fi
    done

    if [[ -z $command ]]; then
        case $cur in
            --simulate=*)
                cur=${cur#--simulate=}
                _filedir -d
                ;;
            -*)
                COMPREPLY=($(compgen -W '--simulate --simulate= --json --version --help' -- "$cur"))
                [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
                ;;
            *)
                COMPREPLY=($(compgen -W 'devices info ls get put rm sync flash convert stats' -- "$cur"))
                ;;
        esac
        return
    fi

    # arg: the position of the current word after the command (1 = the first argument).
    local arg=$((cword - at))
    local folder=${words[at + 1]-}
    folder=${folder//[\'\"\\]/}
    case $command in
        ls | get | put | rm | sync)
            if ((arg == 1)); then
                _tessaly_cli_folders
                return
            fi
            ;;
    esac

    case $command in
        get)
            if [[ $prev == --to ]]; then
                _filedir -d
            elif [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--to' -- "$cur"))
            fi
            ;;
        put)
            case ${folder,,} in
                *maps) _filedir 'qxm|wzm' ;;
                *logs) _filedir displog ;;
            esac
            ;;
        sync)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--convert --dry-run' -- "$cur"))
            elif ((arg == 2)); then
                _filedir -d
            fi
            ;;
        flash)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--no-verify' -- "$cur"))
            else
                _filedir 'bin|qxf'
            fi
            ;;
        convert)
            case $prev in
                --interval | --decimal-separator) return ;;
            esac
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--interval --decimal-separator --help' -- "$cur"))
            else
                _filedir displog
            fi
            ;;
        stats)
            case $prev in
                --from | --to | --channel) return ;;
            esac
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--from --to --channel --help' -- "$cur"))
            else
                _filedir displog
            fi
            ;;
    esac
} &&
    complete -F _tessaly_cli tessaly-cli

# ex: filetype=sh
