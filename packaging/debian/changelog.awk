# Writes the Debian changelog of the native package from CHANGELOG.md (Keep a
# Changelog): an entry per released version, dated as its heading, whose
# text, headings ("### Added") and list items become wrapped bullets.
# usage: awk -v maintainer='NAME <MAIL>' -f changelog.awk CHANGELOG.md
function wrap(text, lead, indent,    words, n, i, line, fresh) {
    gsub(/`/, "", text)
    n = split(text, words, " ")
    line = lead
    fresh = 1
    for (i = 1; i <= n; i++) {
        if (!fresh && length(line) + 1 + length(words[i]) > 78) {
            print line
            line = indent
            fresh = 1
        }
        line = line (fresh ? "" : " ") words[i]
        fresh = 0
    }
    print line
}
function flush() {
    if (text != "") {
        wrap(text, lead, indent)
    }
    text = ""
}
function close_entry() {
    flush()
    if (version != "") {
        print ""
        print " -- " maintainer "  " date
    }
    version = ""
}
/^## / {
    close_entry()
    if ($2 == "[Unreleased]") {
        next
    }
    version = $2
    gsub(/[][]/, "", version)
    # Late on its day, a minute earlier for each older entry: releases made
    # on one day stay in order, as Debian wants every entry newer than the next.
    command = "date -u -R -d '" $4 " 23:59 UTC - " (entries + 0) " minutes'"
    command | getline date
    close(command)
    if (entries++) {
        print ""
    }
    print "quorvex (" version ") unstable; urgency=medium"
    print ""
    nested = 0
    next
}
version == "" { next }
/^$/ { flush(); next }
/^### / { flush(); wrap(substr($0, 5) ":", "  * ", "    "); nested = 1; next }
/^- / {
    flush()
    text = substr($0, 3)
    lead = nested ? "    - " : "  * "
    indent = nested ? "      " : "    "
    next
}
text != "" { sub(/^ +/, ""); text = text " " $0; next }
{ text = $0; lead = "  * "; indent = "    " }
END { close_entry() }
