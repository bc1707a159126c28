# quickstart_block <markdown file> <name>: the fenced block that follows the
# line "<!-- quickstart: name -->", as written.
quickstart_block() {
  awk -v marker="<!-- quickstart: $2 -->" '
    $0 == marker { found = 1; next }
    found == 1 && /^```/ { found = 2; next }
    found == 2 && /^```/ { exit }
    found == 2 { print }' "$1"
}
