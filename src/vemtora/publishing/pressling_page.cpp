// The stand-alone page: inline style sheet, the diagram and formula scripts, the
// optional watermark layer and the body.
#include <array>
#include <algorithm>

#include "support/html_entities.hpp"
#include "vemtora/publishing/pressling.hpp"

namespace vemtora::pressling {

const std::string_view PAGE_TEMPLATE = R"PAGE(<!DOCTYPE html>
<html>
<head>
    <meta charset="UTF-8">
    <title>{title}</title>
    <style>
        body {
            font-family: -apple-system, BlinkMacSystemFont, "Segoe UI", Helvetica, Arial, sans-serif, "Apple Color Emoji", "Segoe UI Emoji";
            max-width: 950px;
            margin: 0 auto;
            padding: 50px 30px;
            line-height: 1.65;
            color: #37352f;
            background-color: #ffffff;
        }
        {watermark_css}
        code:not(pre > code) {
            font-family: SFMono-Regular, Menlo, Consolas, "PT Mono", "Liberation Mono", Courier, monospace;
            color: #eb5757;
            background-color: #f7f6f3;
            padding: 0.2em 0.4em;
            border-radius: 3px;
            font-size: 85%;
            border: 1px solid #edeef0;
        }
        pre {
            background: #f7f6f3;
            padding: 16px;
            border-radius: 8px;
            overflow-x: auto;
            border: 1px solid #edeef0;
            margin: 1.5em 0;
        }
        pre > code {
            font-family: SFMono-Regular, Menlo, Consolas, "PT Mono", "Liberation Mono", Courier, monospace;
            color: inherit;
            background-color: transparent;
            padding: 0;
            border-radius: 0;
            font-size: 90%;
            border: none;
        }
        h1, h2, h3, h4, h5, h6 {
            margin-top: 24px;
            margin-bottom: 16px;
            font-weight: 600;
            line-height: 1.25;
            color: #1F2328;
        }
        h1 {
            font-size: 2em;
            padding-bottom: 0.3em;
            border-bottom: 1px solid #d0d7de;
        }
        h2 {
            font-size: 1.5em;
            padding-bottom: 0.3em;
            border-bottom: 1px solid #d0d7de;
        }
        h3 {
            font-size: 1.25em;
        }
        ul, ol {
            padding-left: 40px;
            margin: 0.8em 0;
        }
        li {
            margin: 0.3em 0;
        }
        hr {
            border: 0;
            border-top: 1px solid #edeef0;
            margin: 2em 0;
        }
        a {
            color: #2eaadc;
            text-decoration: none;
        }
        a:hover {
            text-decoration: underline;
        }
        table {
            border-collapse: collapse;
            width: 100%;
            margin: 1.5em 0;
            font-size: 0.95em;
        }
        th, td {
            border: 1px solid #d0d7de;
            padding: 8px 13px;
            text-align: left;
        }
        th {
            background-color: #f6f8fa;
            font-weight: 600;
        }
        tr:nth-child(even) {
            background-color: #f6f8fa;
        }
        blockquote {
            padding: 0 1em;
            color: #636c76;
            border-left: 0.25em solid #d0d7de;
            margin: 1.5em 0;
        }
        li + li {
            margin-top: 0.25em;
        }
        img {
            max-width: 100%;
            height: auto;
            margin: 10px 0;
            border-radius: 4px;
        }
        mjx-container {
            display: inline-block;
            max-width: 100%;
            overflow-x: auto;
            overflow-y: hidden;
            vertical-align: middle;
        }
        mjx-container[display="true"] {
            display: block;
            overflow-x: auto;
            overflow-y: hidden;
            max-width: 100%;
            padding: 0.5em 0;
        }
        blockquote mjx-container[display="true"] {
            text-align: left !important;
        }
        div[style*="margin"] mjx-container[display="true"] {
            text-align: left !important;
        }
        div[style*="padding"] mjx-container[display="true"] {
            text-align: left !important;
        }
        blockquote mjx-container[display="true"] > mjx-math {
            margin-left: 0 !important;
            margin-right: auto !important;
        }
        div[style*="margin"] mjx-container[display="true"] > mjx-math {
            margin-left: 0 !important;
            margin-right: auto !important;
        }
        div[style*="padding"] mjx-container[display="true"] > mjx-math {
            margin-left: 0 !important;
            margin-right: auto !important;
        }
        blockquote mjx-container[display="true"] svg {
            margin-left: 0 !important;
            margin-right: auto !important;
        }
        div[style*="margin"] mjx-container[display="true"] svg {
            margin-left: 0 !important;
            margin-right: auto !important;
        }
        div[style*="padding"] mjx-container[display="true"] svg {
            margin-left: 0 !important;
            margin-right: auto !important;
        }
    </style>
    <script type="module">
        import mermaid from 'https://cdn.jsdelivr.net/npm/mermaid@10.9.1/dist/mermaid.esm.min.mjs';
        mermaid.initialize({
            startOnLoad: true,
            theme: 'forest',
            securityLevel: 'loose',
            fontFamily: '-apple-system, BlinkMacSystemFont, "Segoe UI", Helvetica, Arial, sans-serif'
        });
    </script>
    <!-- MathJax for LaTeX formula rendering -->
    <script>
        window.MathJax = {
            tex: {
                inlineMath: [['\\(', '\\)']],
                displayMath: [['$$', '$$'], ['\\[', '\\]']],
                processEscapes: true
            },
            options: {
                ignoreHtmlClass: 'tex2jax_ignore',
                processHtmlClass: 'tex2jax_process'
            }
        };
    </script>
    <script id="MathJax-script" async src="https://cdn.jsdelivr.net/npm/mathjax@3/es5/tex-mml-chtml.js"></script>
    <!-- WaveDrom for timing diagram rendering -->
    <script type="text/javascript" src="https://cdn.jsdelivr.net/npm/wavedrom@3.5.0/skins/default.js"></script>
    <script type="text/javascript" src="https://cdn.jsdelivr.net/npm/wavedrom@3.5.0/skins/narrow.js"></script>
    <script type="text/javascript" src="https://cdn.jsdelivr.net/npm/wavedrom@3.5.0/wavedrom.min.js"></script>
    <script>
        document.addEventListener("DOMContentLoaded", function() {
            if (typeof WaveDrom !== 'undefined') {
                WaveDrom.ProcessAll();
            }
        });
    </script>
</head>
<body>
    <article>
        {content}
    </article>
</body>
</html>)PAGE";

namespace {

// The watermark text as SVG text inside a "data:" URL inside a double-quoted CSS string:
// markup characters as references, then what the URL or the string would end or cut
// ("%", "#", "\", quotes, controls) percent-encoded.
std::string watermark_svg_text(std::string_view text) {
    std::string xml = support::html_escape(text, true);
    std::string out;
    out.reserve(xml.size());
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : xml) {
        auto b = static_cast<unsigned char>(c);
        if (c == '%' || c == '#' || c == '\\' || c == '"' || c == '\'' || b < 0x20 || b == 0x7F) {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string watermark_css(std::string_view watermark_text) {
    if (watermark_text.empty()) return "";
    std::string indent(12, ' ');
    std::string decl(16, ' ');
    std::string css = "\n";
    css += indent + "/* 💡 Watermark Layer */\n";
    css += indent + "body::after {\n";
    css += decl + "content: \"\";\n";
    css += decl + "position: fixed;\n";
    css += decl + "top: 0;\n";
    css += decl + "left: 0;\n";
    css += decl + "width: 100%;\n";
    css += decl + "height: 100%;\n";
    css += decl +
           "background-image: url(\"data:image/svg+xml;utf8,<svg xmlns='http://www.w3.org/2000/svg' width='250' "
           "height='150' viewBox='0 0 250 150'><text x='50%' y='50%' text-anchor='middle' fill='rgba(150, 150, 150, "
           "0.1)' font-size='24' font-family='Arial' transform='rotate(-30, 150, 100)'>" +
           watermark_svg_text(watermark_text) + "</text></svg>\");\n";
    css += decl + "background-repeat: repeat;\n";
    css += decl + "pointer-events: none;\n";
    css += decl + "z-index: 1000;\n";
    css += indent + "}";
    return css;
}

std::string generate_final_html(std::string_view md_name, std::string_view html_body, std::string_view watermark_text) {
    log().info("✅ 生成最終 HTML 頁面：" + std::string(md_name));
    std::string title = support::html_escape(md_name);
    std::string rule = watermark_css(watermark_text);

    // Each slot is filled once, at its place in the template; the values are not looked at.
    struct Slot {
        std::string_view marker;
        std::string_view value;
        size_t pos;
    };
    std::array<Slot, 3> slots{{{"{title}", title, 0}, {"{watermark_css}", rule, 0}, {"{content}", html_body, 0}}};
    for (auto& s : slots) s.pos = PAGE_TEMPLATE.find(s.marker);
    std::sort(slots.begin(), slots.end(), [](const Slot& a, const Slot& b) { return a.pos < b.pos; });
    std::string page;
    page.reserve(PAGE_TEMPLATE.size() + title.size() + rule.size() + html_body.size());
    size_t copied = 0;
    for (const auto& s : slots) {
        page.append(PAGE_TEMPLATE.substr(copied, s.pos - copied));
        page.append(s.value);
        copied = s.pos + s.marker.size();
    }
    page.append(PAGE_TEMPLATE.substr(copied));
    return page;
}

}  // namespace vemtora::pressling
