// The crash window as the real tallorin opens it in headless Chromium, in each language: the
// page area that the window's size rules give, nothing that scrolls, the fonts of the interface
// archive, and every text block inside its box with none over another.
import { test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { loadPlaywright, makeSandbox, startTallorin } from "./tallorin_session.mjs";
import { pageArea } from "./page_helpers.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const playwright = loadPlaywright(process.env.BROWSER_FRONT_MODULES || here);
const program = process.env.TALLORIN_PROGRAM || path.resolve(here, "../../build/ci/bin/tallorin");
const screenshots = process.env.SCREENSHOT_DIR || path.join(os.tmpdir(), "tallorin-screenshots");

// The blocks of the form: where each one's text is, and the box that text must stay in.
const kBlocks = [
  { name: "caption", text: ".caption-text", box: ".caption" },
  { name: "description", text: ".description", box: ".description" },
  { name: "text area", text: "#description", box: "#description" },
  { name: "label", text: ".textarea-label", box: ".textarea-footer" },
  { name: "counter", text: ".textarea-counter", box: ".textarea-footer" },
  { name: "e-mail", text: "#email", box: "#email" },
  { name: "cancel", text: "#cancel", box: "#cancel" },
  { name: "send", text: "#send", box: "#send" },
];

// What is wrong with the layout, as sentences; empty when nothing is.
function layoutFaults(blocks) {
  const slack = 0.5;  // sub-pixel rounding of the browser's boxes
  const rect = (r) => ({ left: r.left, top: r.top, right: r.right, bottom: r.bottom });
  const inside = (inner, outer) => inner.left >= outer.left - slack && inner.right <= outer.right + slack &&
                                   inner.top >= outer.top - slack && inner.bottom <= outer.bottom + slack;
  const meet = (a, b) => Math.min(a.right, b.right) - Math.max(a.left, b.left) > slack &&
                         Math.min(a.bottom, b.bottom) - Math.max(a.top, b.top) > slack;
  const viewport = { left: 0, top: 0, right: innerWidth, bottom: innerHeight };
  const measured = blocks.map((block) => {
    const text = document.querySelector(block.text);
    let lines = [];
    if (text instanceof HTMLInputElement || text instanceof HTMLTextAreaElement) {
      // A field's text scrolls inside it when it is longer than the field.
      if (text.scrollWidth > text.clientWidth) lines = [{ left: 0, top: 0, right: Infinity, bottom: 0 }];
    } else {
      const range = document.createRange();
      range.selectNodeContents(text);
      const seen = new Set();
      lines = [...range.getClientRects()].filter((r) => r.width > 0 && r.height > 0).map(rect)
        .filter((line) => !seen.has(JSON.stringify(line)) && seen.add(JSON.stringify(line)));
    }
    // The block's own box: the field, the button, or the text's element.
    const own = rect(text.getBoundingClientRect());
    return { ...block, lines, own, box: rect(document.querySelector(block.box).getBoundingClientRect()) };
  });
  const faults = [];
  for (const block of measured) {
    if (block.lines.length === 0 && !block.text.startsWith("#")) faults.push(`${block.name}: no text`);
    for (const line of block.lines) {
      if (!inside(line, block.box)) faults.push(`${block.name}: text ${JSON.stringify(line)} outside ${JSON.stringify(block.box)}`);
    }
    if (!inside(block.own, viewport)) faults.push(`${block.name}: outside the window`);
  }
  for (const [index, a] of measured.entries()) {
    for (const b of measured.slice(index + 1)) {
      if (meet(a.own, b.own)) faults.push(`${a.name} and ${b.name} overlap`);
      for (const line of a.lines) if (meet(line, b.own)) faults.push(`${a.name}'s text runs into ${b.name}`);
      for (const line of b.lines) if (meet(line, a.own)) faults.push(`${b.name}'s text runs into ${a.name}`);
    }
  }
  return faults;
}

// The font that draws an element's text, as Chromium reports it.
async function fontOf(page, selector) {
  const session = await page.context().newCDPSession(page);
  try {
    await session.send("DOM.enable");
    await session.send("CSS.enable");
    const { root } = await session.send("DOM.getDocument", { depth: 0 });
    const { nodeId } = await session.send("DOM.querySelector", { nodeId: root.nodeId, selector });
    const { fonts } = await session.send("CSS.getPlatformFontsForNode", { nodeId });
    return fonts.map(({ familyName, isCustomFont }) => `${familyName}${isCustomFont ? " (packed)" : ""}`);
  } finally {
    await session.detach().catch(() => {});
  }
}

for (const language of ["English", "German", "French", "Spanish"]) {
  test(`${language}: the window is the form's size, nothing scrolls, the packed fonts draw it and no text leaves its box`, async () => {
    fs.mkdirSync(screenshots, { recursive: true });
    const sandbox = makeSandbox({ language });
    const run = await startTallorin({ program, sandbox, playwright });
    try {
      const { page } = run;
      assert.equal(await page.evaluate(() => document.documentElement.dataset.mediaLanguage), language);
      await page.evaluate(() => document.fonts.ready);
      assert.deepEqual(await pageArea(page), { width: 560, height: 540, scrolled: [0, 0], scrollers: [] });
      assert.deepEqual(await fontOf(page, ".description .text-item"), ["Roboto (packed)"]);
      assert.deepEqual(await fontOf(page, ".caption-text"), ["Roboto (packed)"]);
      const button = await fontOf(page, "#send");
      assert.equal(button.length, 1, String(button));
      assert.match(button[0], /^Montserrat.* \(packed\)$/);
      await page.screenshot({ path: path.join(screenshots, `tallorin-window-${language.toLowerCase()}.png`) });
      assert.deepEqual(await page.evaluate(layoutFaults, kBlocks), []);
    } finally {
      if (run.child.exitCode === null) await run.page.close().catch(() => {});
      await run.exit();
      sandbox.remove();
    }
  });
}
