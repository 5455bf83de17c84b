# bash completion for talvo_cmd                                   -*- shell-script -*-
#
# Completes the options; after -b the four speeds; after -p the port numbers 0 to 8;
# after -f file names; after -d the serial devices /dev/tty* first, then file names;
# and, for the command name, the names in the data file in force: the file of the
# last -f before the cursor, else ./talvo_cmd.dat.
#
# Needs nothing but bash itself; bash-completion loads it on first use from
# share/bash-completion/completions/talvo_cmd, or source it from ~/.bashrc.

# _talvo_cmd_names FILE
# Sets the array _talvo_cmd_found to the command names of FILE, read as talvo_cmd
# reads a data file: its first 10000 bytes; only lines that end with CR count, and
# the byte after each CR is skipped (CR LF lines; a file of LF-only lines yields
# nothing); a line starting with ; or # is a comment; the name is the line's first
# word, up to a blank or a tab; the text is lowercased up to its first zero byte,
# and a zero byte inside a line ends the reading. Each name once, in file order.
_talvo_cmd_names()
{
    local LC_ALL=C
    _talvo_cmd_found=()
    [[ -f $1 && -r $1 ]] || return 0

    local chunk rest line name n=0 go_on=1 more
    local -A seen=()
    # Split at the zero bytes: the chunks come one by one, the last without its
    # terminator.
    while more=0; IFS= read -r -d '' chunk && more=1 || [[ -n $chunk ]]; do
        ((go_on)) || break
        go_on=0
        rest=$chunk
        while [[ $rest == *$'\r'* ]]; do
            line=${rest%%$'\r'*}
            rest=${rest#*$'\r'}
            if [[ $line != [\;#]* ]]; then
                name=${line%%[ $'\t']*}
                ((n == 0)) && name=${name,,}
                # A name that cannot be typed (control characters) or, past a zero
                # byte, one that kept capitals (it can never match) is left out.
                if [[ -n $name && $name != *[[:cntrl:]]* && $name != *[A-Z]* &&
                      -z ${seen[$name]+x} ]]; then
                    seen[$name]=1
                    _talvo_cmd_found+=("$name")
                fi
            fi
            if [[ -z $rest ]]; then
                # The CR was the chunk's last byte: the byte after it, skipped
                # unseen, is the zero byte, and the reading goes on after it.
                go_on=$more
                break
            fi
            rest=${rest:1}
        done
        ((n += 1))
        ((more)) || break
    done < <(head -c 10000 -- "$1" 2>/dev/null)
    return 0
}

# _talvo_cmd_dequote WORD
# Sets REPLY to WORD as the shell would pass it: quotes and backslashes removed, a
# leading ~/ made $HOME/.
_talvo_cmd_dequote()
{
    local word=$1 out="" c quote="" i
    if [[ $word == "~" || $word == "~/"* ]]; then
        out=$HOME
        word=${word:1}
    fi
    for ((i = 0; i < ${#word}; i++)); do
        c=${word:i:1}
        if [[ $quote == "'" ]]; then
            [[ $c == "'" ]] && quote="" || out+=$c
        elif [[ $quote == '"' ]]; then
            if [[ $c == '"' ]]; then
                quote=""
            elif [[ $c == "\\" && ${word:i+1:1} == [\"\\\$\`] ]]; then
                out+=${word:i+1:1}
                ((i += 1))
            else
                out+=$c
            fi
        elif [[ $c == "'" || $c == '"' ]]; then
            quote=$c
        elif [[ $c == "\\" ]]; then
            out+=${word:i+1:1}
            ((i += 1))
        else
            out+=$c
        fi
    done
    REPLY=$out
}

# _talvo_cmd_words
# Sets words (the words up to the cursor, as typed), cword (the index of the word at
# the cursor) and cur (that word). From COMP_LINE and COMP_POINT when bash set them,
# splitting at blanks and tabs outside quotes only, so that a name holding = or :
# stays one word; else from COMP_WORDS and COMP_CWORD.
_talvo_cmd_words()
{
    words=()
    if [[ -n ${COMP_LINE+x} && -n ${COMP_POINT+x} ]]; then
        local line=${COMP_LINE:0:COMP_POINT} word="" c quote="" i
        for ((i = 0; i < ${#line}; i++)); do
            c=${line:i:1}
            if [[ -n $quote ]]; then
                [[ $c == "$quote" ]] && quote=""
                [[ $c == "\\" && $quote == '"' ]] && { word+=$c; ((i += 1)); c=${line:i:1}; }
                word+=$c
            elif [[ $c == [\ $'\t'] ]]; then
                [[ -n $word ]] && words+=("$word")
                word=""
            else
                [[ $c == "'" || $c == '"' ]] && quote=$c
                [[ $c == "\\" ]] && { word+=$c; ((i += 1)); c=${line:i:1}; }
                word+=$c
            fi
        done
        words+=("$word")
    else
        words=("${COMP_WORDS[@]:0:COMP_CWORD+1}")
    fi
    cword=$((${#words[@]} - 1))
    cur=${words[cword]}
}

_talvo_cmd()
{
    local LC_ALL=C # case is folded for A to Z only, as talvo_cmd does
    local -a words
    local cword cur
    _talvo_cmd_words
    COMPREPLY=()

    # Walk the words before the cursor as talvo_cmd reads its arguments: the word
    # after -p, -b, -f or -d (in any case) is that option's value, whatever it looks
    # like.
    local i option="" data_file=talvo_cmd.dat REPLY
    for ((i = 1; i < cword; i++)); do
        case ${words[i],,} in
        -p | -b | -f | -d)
            if ((i + 1 == cword)); then
                option=${words[i],,}
                break
            fi
            if [[ ${words[i],,} == -f ]]; then
                _talvo_cmd_dequote "${words[i + 1]}"
                data_file=$REPLY
            fi
            ((i += 1))
            ;;
        esac
    done

    local -a found
    local item
    case $option in
    -b)
        mapfile -t COMPREPLY < <(compgen -W "2400 4800 9600 19200" -- "$cur")
        return 0
        ;;
    -p)
        mapfile -t COMPREPLY < <(compgen -W "0 1 2 3 4 5 6 7 8" -- "$cur")
        return 0
        ;;
    -f)
        _talvo_cmd_dequote "$cur"
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$REPLY")
        return 0
        ;;
    -d)
        # The serial devices first, found by their names alone (nothing is opened);
        # the virtual consoles /dev/tty and /dev/tty<n> are no phone's port. Then
        # file names, for pseudo-terminals and other paths.
        _talvo_cmd_dequote "$cur"
        compopt -o filenames -o nosort 2>/dev/null
        local -A listed=()
        while IFS= read -r item; do
            [[ $item == /dev/tty || $item == /dev/tty[0-9]* ]] && continue
            [[ $item == "$REPLY"* ]] || continue
            listed[$item]=1
            COMPREPLY+=("$item")
        done < <(compgen -G "/dev/tty*")
        while IFS= read -r item; do
            [[ -n ${listed[$item]+x} ]] || COMPREPLY+=("$item")
        done < <(compgen -f -- "$REPLY" | sort)
        return 0
        ;;
    esac

    # The command name, or an option.
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "-p -b -f -d -q -i -h --help" -- "$cur")
    fi
    local _talvo_cmd_found=()
    _talvo_cmd_names "$data_file"
    local want=${cur,,} prefix=""
    # Bash replaces only the part of the word after its last word-break character
    # (= and : by default): hand it the rest of each name.
    if [[ -n ${COMP_LINE+x} ]]; then
        local breaks=${COMP_WORDBREAKS//[^:=]/}
        [[ -n $breaks && $want == *["$breaks"]* ]] && prefix=${want%"${want##*["$breaks"]}"}
    fi
    for item in "${_talvo_cmd_found[@]}"; do
        [[ $item == "$want"* ]] || continue
        item=${item#"$prefix"}
        if [[ $item == *[^[:alnum:]_.,+:@%/=-]* ]]; then
            printf -v item '%q' "$item"
        fi
        COMPREPLY+=("$item")
    done
    return 0
} &&
    complete -F _talvo_cmd talvo_cmd
