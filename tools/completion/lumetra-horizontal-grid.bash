# Bash completion of lumetra-horizontal-grid: subcommands, then each subcommand's options, read
# from the tool's own --help so they never fall behind it; files elsewhere (codes, @files, -o).
_lumetra_horizontal_grid() {
    local current=${COMP_WORDS[COMP_CWORD]} tool=${COMP_WORDS[0]} command="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} != -* ]]; then command=${COMP_WORDS[i]}; break; fi
    done
    if [[ -z $command && $current != -* ]]; then
        local commands
        commands=$("$tool" --help 2>/dev/null | sed -n '/^Subcommands:/,$s/^  \([a-z][a-z-]*\) .*/\1/p')
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$current")
    elif [[ $current == -* ]]; then
        local options
        options=$("$tool" ${command:+"$command"} --help 2>/dev/null | grep -oE -- '--[a-z][a-z-]*' | sort -u)
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$current")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "${current#@}")
        [[ $current == @* ]] && COMPREPLY=("${COMPREPLY[@]/#/@}")
    fi
}
complete -o filenames -F _lumetra_horizontal_grid lumetra-horizontal-grid
