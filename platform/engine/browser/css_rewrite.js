// The engine's CSS dialect turned into CSS that a browser applies the same way:
//   dip -> px (a browser's px is a dip); @const NAME: value; and @mixin NAME {...} expanded where
//   @NAME and @NAME; stand; @set Name {...} scoped under [styleset$="#Name"] and under every
//   selector of the sheet that says `style-set: Name` (":root" in a set is the scope itself);
//   @media blocks that test media variables ((language == "German"), !=, and, or, not) turned
//   into attribute tests of <html data-media-language="German">, which Window.mediaVar sets;
//   flow: vertical | horizontal[-wrap] -> flexbox, with the flow's vertical-align,
//   horizontal-align and border-spacing as flex alignment and gap; a flexible margin (*) as auto.
// Everything else passes through; a browser drops what it does not know.
// A classic script: it defines window.tallorinCss in a page and module.exports under node.
(function (root) {
  "use strict";

  function skipString(text, at) {
    const quote = text[at];
    for (let i = at + 1; i < text.length; ++i) {
      if (text[i] === "\\") ++i;
      else if (text[i] === quote) return i;
    }
    return text.length;
  }

  // Index of the first of `stops` at nesting depth 0 from `at`, strings and brackets skipped.
  function findTopLevel(text, at, stops) {
    let depth = 0;
    for (let i = at; i < text.length; ++i) {
      const c = text[i];
      if (c === '"' || c === "'") i = skipString(text, i);
      else if (depth === 0 && stops.includes(c)) return i;
      else if (c === "(" || c === "[" || c === "{") ++depth;
      else if (c === ")" || c === "]" || c === "}") {
        if (depth === 0) return i;
        --depth;
      }
    }
    return text.length;
  }

  function splitTopLevel(text, separator) {
    const parts = [];
    let at = 0;
    while (at <= text.length) {
      const end = findTopLevel(text, at, [separator]);
      parts.push(text.slice(at, end));
      if (end >= text.length || text[end] !== separator) break;
      at = end + 1;
    }
    return parts.map((part) => part.trim()).filter((part) => part.length > 0);
  }

  const kNestingAtRules = new Set(["media", "set", "supports", "layer", "container", "document"]);

  // Items: {rule: selector, body} | {at: name, prelude, children | body | null}.
  function parseBlock(text, at) {
    const items = [];
    while (at < text.length) {
      while (at < text.length && /\s|;/.test(text[at])) ++at;
      if (at >= text.length || text[at] === "}") return {items, at: at + 1};
      if (text[at] === "@") {
        const name = /^@([\w-]+)/.exec(text.slice(at));
        const atName = name ? name[1] : "";
        const end = findTopLevel(text, at, [";", "{"]);
        const prelude = text.slice(at + 1 + atName.length, end).trim();
        if (end >= text.length || text[end] !== "{") {
          items.push({at: atName, prelude, body: null});
          at = end + 1;
        } else if (kNestingAtRules.has(atName.toLowerCase())) {
          const inner = parseBlock(text, end + 1);
          items.push({at: atName, prelude, children: inner.items});
          at = inner.at;
        } else {
          const close = findTopLevel(text, end + 1, []);
          items.push({at: atName, prelude, body: text.slice(end + 1, close)});
          at = close + 1;
        }
        continue;
      }
      const open = findTopLevel(text, at, ["{"]);
      if (open >= text.length || text[open] !== "{") break;  // a stray tail, dropped as a browser would
      const close = findTopLevel(text, open + 1, []);
      items.push({rule: text.slice(at, open).trim(), body: text.slice(open + 1, close)});
      at = close + 1;
    }
    return {items, at};
  }

  function walk(items, visit) {
    for (const item of items) {
      visit(item);
      if (item.children) walk(item.children, visit);
    }
  }

  function declarations(body) {
    return splitTopLevel(body, ";").map((text) => {
      const colon = text.indexOf(":");
      if (colon < 0) return {name: text.trim(), value: null};
      return {name: text.slice(0, colon).trim().toLowerCase(), value: text.slice(colon + 1).trim()};
    });
  }

  class Rewriter {
    constructor(options) {
      this.baseUrl = options && options.baseUrl;
      this.consts = new Map();
      this.mixins = new Map();
      this.setUsers = new Map();  // style set name -> selectors that apply it
    }

    substituteConsts(text) {
      return text.replace(/@([\w-]+)/g, (whole, name) => (this.consts.has(name) ? this.consts.get(name) : whole));
    }

    expandMixins(body, depth = 0) {
      return body.replace(/@([\w-]+)\s*;/g, (whole, name) => {
        if (!this.mixins.has(name) || depth > 8) return whole;
        return this.expandMixins(this.mixins.get(name), depth + 1) + ";";
      });
    }

    collect(items) {
      walk(items, (item) => {
        if (item.at === "const") {
          const colon = item.prelude.indexOf(":");
          if (colon > 0) this.consts.set(item.prelude.slice(0, colon).trim(), this.substituteConsts(item.prelude.slice(colon + 1).trim()));
        } else if (item.at === "mixin" && item.body !== null) {
          this.mixins.set(item.prelude.trim(), item.body);
        }
      });
      walk(items, (item) => {
        if (item.rule === undefined) return;
        for (const decl of declarations(this.expandMixins(item.body))) {
          if (decl.name !== "style-set" || !decl.value) continue;
          const name = decl.value.replace(/^["']|["']$/g, "");
          if (!this.setUsers.has(name)) this.setUsers.set(name, []);
          this.setUsers.get(name).push(...splitTopLevel(item.rule, ","));
        }
      });
    }

    value(text) {
      let out = this.substituteConsts(text).replace(/(\d*\.?\d+)dip\b/g, "$1px");
      if (this.baseUrl) {
        out = out.replace(/url\(\s*(["']?)([^"')]+)\1\s*\)/g, (whole, quote, url) => {
          if (/^[a-z][\w+.-]*:/i.test(url) || url.startsWith("#")) return whole;
          try { return `url("${new URL(url, this.baseUrl).href}")`; } catch (error) { return whole; }
        });
      }
      return out;
    }

    body(text) {
      const decls = declarations(this.expandMixins(text));
      const flow = decls.find((decl) => decl.name === "flow");
      const direction = flow ? this.flowDirection(flow.value) : null;
      const out = [];
      for (const decl of decls) {
        if (decl.value === null || decl.name === "style-set") continue;
        const value = this.value(decl.value);
        if (decl.name === "flow") {
          if (!direction) continue;
          out.push("display: flex", `flex-direction: ${direction.row ? "row" : "column"}`);
          if (direction.wrap) out.push("flex-wrap: wrap");
        } else if (direction && (decl.name === "vertical-align" || decl.name === "horizontal-align")) {
          const along = (decl.name === "horizontal-align") === direction.row;
          const position = {top: "flex-start", left: "flex-start", middle: "center", center: "center",
                            bottom: "flex-end", right: "flex-end"}[value.toLowerCase()];
          if (position) out.push(`${along ? "justify-content" : "align-items"}: ${position}`);
        } else if (decl.name.startsWith("margin") && /(^|\s)\d*\*(\s|$)/.test(value)) {
          out.push(`${decl.name}: ${value.replace(/(^|\s)\d*\*(?=\s|$)/g, "$1auto")}`);
        } else if (direction && decl.name === "border-spacing") {
          out.push(`gap: ${value}`);
        } else {
          out.push(`${decl.name}: ${value}`);
        }
      }
      return out;
    }

    flowDirection(value) {
      const flow = String(value).trim().toLowerCase();
      return {
        "vertical": {row: false, wrap: false}, "horizontal": {row: true, wrap: false},
        "vertical-wrap": {row: false, wrap: true}, "horizontal-wrap": {row: true, wrap: true},
      }[flow] || null;
    }

    // Alternatives of attribute tests on <html>, or null when the query is a browser's own.
    mediaConditions(prelude) {
      if (!/[!=]=/.test(prelude)) return null;
      const alternatives = [];
      for (const alternative of prelude.split(/\s+or\s+|,/i)) {
        let condition = "";
        for (let term of alternative.split(/\s+and\s+/i)) {
          term = term.trim().replace(/^\((.*)\)$/, "$1").trim();
          const negated = /^not\s+/i.test(term);
          if (negated) term = term.replace(/^not\s+/i, "").replace(/^\((.*)\)$/, "$1").trim();
          const match = /^([\w-]+)\s*(==|!=)\s*(.+)$/.exec(term);
          let test;
          if (match) {
            const value = match[3].trim().replace(/^["'](.*)["']$/, "$1");
            test = `[data-media-${match[1]}=${JSON.stringify(value)}]`;
            if ((match[2] === "!=") !== negated) test = `:not(${test})`;
          } else if (/^[\w-]+$/.test(term)) {
            test = negated ? `:not([data-media-${term}])` : `[data-media-${term}]`;
          } else {
            return null;
          }
          condition += test;
        }
        alternatives.push(condition);
      }
      return alternatives;
    }

    selectors(rule, context) {
      let list = splitTopLevel(rule, ",");
      if (context.scopes) {
        list = context.scopes.flatMap((scope) => list.map((selector) =>
          selector.startsWith(":root") ? scope + selector.slice(5) : `${scope} ${selector}`));
      }
      if (context.media) {
        list = context.media.flatMap((condition) => list.map((selector) => {
          if (/^html(?![\w-])/i.test(selector)) return "html" + condition + selector.slice(4);
          if (selector.startsWith(":root")) return ":root" + condition + selector.slice(5);
          return `html${condition} ${selector}`;
        }));
      }
      return list;
    }

    emit(items, context, out) {
      for (const item of items) {
        if (item.rule !== undefined) {
          const body = this.body(item.body);
          if (body.length > 0) out.push(`${this.selectors(item.rule, context).join(", ")} {\n  ${body.join(";\n  ")};\n}`);
          continue;
        }
        const name = item.at.toLowerCase();
        if (name === "const" || name === "mixin") continue;
        if (name === "set") {
          const setName = item.prelude.split(/[\s<]/)[0];
          const own = [`[styleset$=${JSON.stringify("#" + setName)}]`, ...(this.setUsers.get(setName) || [])];
          const scopes = context.scopes ? context.scopes.flatMap((outer) => own.map((scope) => `${outer} ${scope}`)) : own;
          this.emit(item.children, {scopes, media: context.media}, out);
        } else if (name === "media" && this.mediaConditions(item.prelude)) {
          const conditions = this.mediaConditions(item.prelude);
          const media = context.media ? context.media.flatMap((outer) => conditions.map((inner) => outer + inner)) : conditions;
          this.emit(item.children, {scopes: context.scopes, media}, out);
        } else if (item.children) {
          const inner = [];
          this.emit(item.children, context, inner);
          out.push(`@${item.at} ${this.value(item.prelude)} {\n${inner.join("\n")}\n}`);
        } else if (item.body !== null) {
          out.push(`@${item.at} ${item.prelude} {${name === "font-face" ? this.body(item.body).join(";") : item.body}}`);
        } else {
          out.push(`@${item.at} ${this.value(item.prelude)};`);
        }
      }
    }
  }

  function rewriteCss(text, options) {
    const source = String(text).replace(/\/\*[\s\S]*?\*\//g, "");
    const rewriter = new Rewriter(options);
    const {items} = parseBlock(source, 0);
    rewriter.collect(items);
    const out = [];
    rewriter.emit(items, {scopes: null, media: null}, out);
    return out.join("\n") + "\n";
  }

  const api = {rewriteCss};
  if (typeof module === "object" && module.exports) module.exports = api;
  else root.tallorinCss = api;
})(typeof window !== "undefined" ? window : globalThis);
