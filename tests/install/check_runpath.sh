#!/bin/sh
# Fails when a program or library's run path has an empty entry, which the
# loader takes as the current directory: a library planted where the user
# runs the program would be loaded in place of ours.
#   check_runpath.sh FILE...
status=0
for file in "$@"; do
    path=$(readelf -d "$file" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p')
    [ -n "$path" ] || continue
    case ":$path:" in
    *::*) echo "$file: the run path \"$path\" has an empty entry"; status=1 ;;
    esac
done
exit $status
