# Sourced by build-windows-deps.sh (and its test): where this machine gets Debian's packages.

# deb_src_lines CODENAME APT_ETC
# Prints the deb-src lines for the main component of the Debian release CODENAME, its
# -updates and its -security suites, at the addresses that the apt sources under APT_ETC
# (/etc/apt: sources.list and sources.list.d/*.list in the one-line format,
# sources.list.d/*.sources in deb822) use for that release, so a machine that reaches its
# packages through a mirror or a proxy fetches the sources the same way. Other suites and
# other archives are left out (they hold none of the sources, and their indexes could fail
# the update). Only where no source names the release are Debian's own addresses given.
deb_src_lines() {
  local codename="$1" etc="$2" files=() f found=""
  for f in "$etc/sources.list" "$etc"/sources.list.d/*.list "$etc"/sources.list.d/*.sources; do
    [ -f "$f" ] && files+=("$f")
  done
  if [ ${#files[@]} -gt 0 ]; then
    found="$(awk -v codename="$codename" '
      function wanted(suite) {
        return suite == codename || suite == codename "-updates" || suite == codename "-security"
      }
      # Only the options that matter for fetching sources are kept: the key and the trust.
      function kept_option(o) { return o ~ /^(signed-by|trusted)=/ }
      function emit(options, uri, suite,   line) {
        if (!wanted(suite) || uri ~ /^cdrom:/) return
        line = "deb-src " (options != "" ? "[" options "] " : "") uri " " suite " main"
        if (!(line in seen)) { seen[line] = 1; print line }
      }
      function has_main(list,   n, i, parts) {
        n = split(list, parts, /[ \t]+/)
        for (i = 1; i <= n; i++) if (parts[i] == "main") return 1
        return 0
      }
      # deb [ option=value ... ] uri suite component...
      function one_line(text,   n, t, i, j, options, o, parts, k, components) {
        sub(/#.*/, "", text)
        gsub(/^[ \t]+|[ \t]+$/, "", text)
        n = split(text, t, /[ \t]+/)
        if (n < 4 || (t[1] != "deb" && t[1] != "deb-src")) return
        i = 2
        options = ""
        if (substr(t[2], 1, 1) == "[") {
          o = ""
          for (; i <= n; i++) {
            o = o " " t[i]
            if (index(t[i], "]")) { i++; break }
          }
          gsub(/[][]/, " ", o)
          k = split(o, parts, /[ \t]+/)
          for (j = 1; j <= k; j++) if (kept_option(parts[j])) options = options (options != "" ? " " : "") parts[j]
        }
        if (i + 2 > n) return
        components = ""
        for (k = i + 2; k <= n; k++) components = components " " t[k]
        if (has_main(components)) emit(options, t[i], t[i + 1])
      }
      function flush_stanza(   types, options, u, s, nu, ns, uris, suites) {
        types = " " field["types"] " "
        if ((types ~ /[ \t]deb[ \t]/ || types ~ /[ \t]deb-src[ \t]/) && tolower(field["enabled"]) != "no" \
            && has_main(field["components"])) {
          options = ""
          # A key written into the file itself cannot stand in a one-line source; the
          # archive keys in trusted.gpg.d serve instead.
          if (field["signed-by"] != "" && !multi["signed-by"]) options = "signed-by=" field["signed-by"]
          if (tolower(field["trusted"]) == "yes") options = options (options != "" ? " " : "") "trusted=yes"
          nu = split(field["uris"], uris, /[ \t]+/)
          ns = split(field["suites"], suites, /[ \t]+/)
          for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++) if (uris[u] != "") emit(options, uris[u], suites[s])
        }
        split("", field)
        split("", multi)
        key = ""
      }
      FNR == 1 && NR > 1 { flush_stanza() }
      { sub(/\r$/, "") }
      FILENAME !~ /\.sources$/ { one_line($0); next }
      /^#/ { next }
      /^[ \t]*$/ { flush_stanza(); next }
      /^[ \t]/ { if (key != "") multi[key] = 1; next }
      {
        colon = index($0, ":")
        if (!colon) next
        key = tolower(substr($0, 1, colon - 1))
        value = substr($0, colon + 1)
        gsub(/^[ \t]+|[ \t]+$/, "", value)
        field[key] = value
      }
      END { flush_stanza() }
    ' "${files[@]}")"
  fi
  if [ -z "$found" ]; then
    local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    found="deb-src [signed-by=$keyring] http://deb.debian.org/debian $codename main
deb-src [signed-by=$keyring] http://deb.debian.org/debian $codename-updates main
deb-src [signed-by=$keyring] http://deb.debian.org/debian-security $codename-security main"
  fi
  printf '%s\n' "$found"
}
