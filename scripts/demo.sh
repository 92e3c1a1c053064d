#!/usr/bin/env bash
# The main job: convert the example Markdown pages of examples/docs into HTML pages in out/.
set -euo pipefail
bin=$(realpath "${1:-build/vemtora}")
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/out"
mkdir -p "$out"

# A configuration that points the converter at the examples; "a" picks every page in the menu.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/config.yaml" <<YAML
config:
  input_path: "$root/examples/docs"
  output_path: "$out"
  embed_images: true
  watermark_enable: false
  watermark_text: "CONFIDENTIAL"
YAML
(cd "$work" && printf 'a\n' | "$bin" pressling -c config.yaml)

echo
echo "Pages written to $out:"
for page in "$out"/*.html; do
  echo "  file://$page"
done
