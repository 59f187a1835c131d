// The CSS dialect rewriter on its own.
import { test } from "node:test";
import assert from "node:assert/strict";
import { createRequire } from "node:module";

const { rewriteCss } = createRequire(import.meta.url)("../../platform/engine/browser/css_rewrite.js");
const flat = (css) => css.replace(/\s+/g, " ").trim();

test("rewrites the engine's dialect into rules a browser applies", () => {
  const cases = [
    { name: "dip", css: "a { width: 10dip; margin: 0 1.5dip }", want: "a { width: 10px; margin: 0 1.5px; }" },
    { name: "const", css: "@const C: #fff; @const D: @C; a { color: @D }", want: "a { color: #fff; }" },
    { name: "mixin", css: "@mixin m { color: red; width: 2dip } a { @m; top: 0 }", want: "a { color: red; width: 2px; top: 0; }" },
    { name: "vertical flow", css: "a { flow: vertical; vertical-align: bottom; horizontal-align: center; border-spacing: 3dip }",
      want: "a { display: flex; flex-direction: column; justify-content: flex-end; align-items: center; gap: 3px; }" },
    { name: "horizontal flow", css: "a { flow: horizontal-wrap; vertical-align: middle; horizontal-align: right }",
      want: "a { display: flex; flex-direction: row; flex-wrap: wrap; align-items: center; justify-content: flex-end; }" },
    { name: "alignment without a flow stays", css: "a { vertical-align: middle }", want: "a { vertical-align: middle; }" },
    { name: "unknown flow dropped", css: "a { flow: row(p, q); color: red }", want: "a { color: red; }" },
    { name: "flexible margin", css: "a { margin-left: *; margin: 0 2* }", want: "a { margin-left: auto; margin: 0 auto; }" },
    { name: "style set", css: "@set S { :root { top: 0 } :root.x > b, c { left: 0 } }",
      want: '[styleset$="#S"] { top: 0; } [styleset$="#S"].x > b, [styleset$="#S"] c { left: 0; }' },
    { name: "style set applied by a selector", css: "body { style-set: S; margin: 0 } @set S { p { top: 0 } }",
      want: 'body { margin: 0; } [styleset$="#S"] p, body p { top: 0; }' },
    { name: "media variables", css: '@media (lang == "German") or (lang == French) { p { top: 0 } html { left: 0 } }',
      want: 'html[data-media-lang="German"] p, html[data-media-lang="French"] p { top: 0; } html[data-media-lang="German"], html[data-media-lang="French"] { left: 0; }' },
    { name: "media variables negated and joined", css: '@media (a != "1") and not (b == "2") { p { top: 0 } }',
      want: 'html:not([data-media-a="1"]):not([data-media-b="2"]) p { top: 0; }' },
    { name: "media variable inside a set", css: '@set S { @media (l == "X") { p { top: 0 } } }',
      want: 'html[data-media-l="X"] [styleset$="#S"] p { top: 0; }' },
    { name: "a browser's own media query stays", css: "@media screen and (max-width: 10dip) { p { top: 0 } }",
      want: "@media screen and (max-width: 10px) { p { top: 0; } }" },
    { name: "urls resolved against the sheet", css: 'a { background: url(img/x.svg) } b { background: url("data:x") }',
      want: 'a { background: url("http://h/s/img/x.svg"); } b { background: url("data:x"); }' },
    { name: "comments and strings", css: '/* } */ a::before { content: "{ ; }" }', want: 'a::before { content: "{ ; }"; }' },
    { name: "an unterminated tail is dropped", css: "a { top: 0 } b", want: "a { top: 0; }" },
  ];
  for (const c of cases) {
    assert.equal(flat(rewriteCss(c.css, { baseUrl: "http://h/s/sheet.css" })), c.want, c.name);
  }
});
