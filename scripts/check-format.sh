#!/usr/bin/env bash
# Checks that every C++ file of src/, tests/, tools/ and bench/ (tracked, or
# new and not ignored) is laid out as .clang-format says; fails naming the
# files that are not and the command that fixes them. test.sh runs it before
# it builds; it can also run alone:
#
#     ./scripts/check-format.sh
#
# The check and the fixing command use the same binary, Debian 12's
# clang-format (version 14): another version lays some code out otherwise.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

CLANG_FORMAT=/usr/bin/clang-format

check_format() {
    if [ ! -x "$CLANG_FORMAT" ]; then
        echo "format check: $CLANG_FORMAT is missing (Debian package clang-format)" >&2
        return 1
    fi
    local files=() present=() unformatted=() file reason report status=0
    if ! reason="$(git -C "$ROOT" rev-parse --is-inside-work-tree 2>&1)"; then
        echo "format check: git cannot list the files of $ROOT: $reason" >&2
        return 1
    fi
    mapfile -t files < <(git -C "$ROOT" ls-files --cached --others --exclude-standard -- \
        'src/*.h' 'src/*.cpp' 'tests/*.h' 'tests/*.cpp' \
        'tools/*.h' 'tools/*.cpp' 'bench/*.h' 'bench/*.cpp' | sort -u)
    for file in "${files[@]}"; do
        # Listed by git but deleted in the working tree: nothing to check.
        if [ -f "$ROOT/$file" ]; then present+=("$file"); fi
    done
    [ "${#present[@]}" -gt 0 ] || return 0
    # One run over all files; each difference is reported as
    # "<file>:<line>:<column>: error: code should be clang-formatted ...".
    report="$(cd "$ROOT" && "$CLANG_FORMAT" --dry-run -Werror "${present[@]}" 2>&1)" || status=$?
    mapfile -t unformatted < <(printf '%s\n' "$report" |
        sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' | sort -u)
    if [ "$status" -ne 0 ] && [ "${#unformatted[@]}" -eq 0 ]; then
        # Failed for another reason (a file it cannot read, a bad .clang-format).
        echo "format check: $CLANG_FORMAT failed:" >&2
        printf '%s\n' "$report" >&2
        return 1
    fi
    if [ "${#unformatted[@]}" -gt 0 ]; then
        {
            echo "format check failed: ${#unformatted[@]} of ${#present[@]} files do not follow .clang-format:"
            printf '    %s\n' "${unformatted[@]}"
            echo "Fix them, from $ROOT, with"
            echo "    $CLANG_FORMAT -i ${unformatted[*]}"
            echo "($("$CLANG_FORMAT" --version))"
        } >&2
        return 1
    fi
    echo "format check: all ${#present[@]} files follow .clang-format"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    ensure_packages "${FORMAT_PACKAGES[@]}"
    check_format
fi
