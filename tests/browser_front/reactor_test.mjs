// The reactor and Window of bootstrap.js on a page of their own.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { createRequire } from "node:module";
import { fileURLToPath } from "node:url";
import { startFrontServer } from "./front_server.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const modules = process.env.BROWSER_FRONT_MODULES || here;
const { chromium } = createRequire(path.join(modules, "package.json"))("playwright-core");

let browser;
let server;
let page;

before(async () => {
  browser = await chromium.launch({
    executablePath: "/usr/bin/chromium", headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
  });
  server = await startFrontServer({ root: path.join(here, "reactor_page"),
                                    frontFolder: path.resolve(here, "../../platform/engine/browser") });
  page = await browser.newPage();
  await page.goto(server.url("index.html"));
});

after(async () => {
  await browser?.close();
  await server?.close();
});

test("components mount, update, coalesce and unmount in the engine's order", async () => {
  const result = await page.evaluate(async () => {
    const log = [];
    class Item extends Element {
      constructor(props) { super(); log.push("ctor " + props.name); }
      this(props) { this.props = props; log.push("this " + props.name); }
      render() { log.push("render " + this.props.name); return JSX("li", { class: "item" }, [this.props.name]); }
      componentDidMount() { log.push("mounted " + this.props.name + " " + document.contains(this)); }
      componentWillUnmount() { log.push("unmount " + this.props.name); }
    }
    class List extends Element {
      names = ["a", "b"];
      clicks = [];
      render() {
        return JSX("ul", { styleset: "page.css#Row" }, this.names.map((name) => JSX(Item, { key: name, name }, [])));
      }
      ["on click at li.item"](evt, item) { this.clicks.push(item.textContent); return true; }
    }
    const root = document.getElementById("root");
    root.patch(JSX("div", { id: "root" }, [JSX(List, {}, [])]));
    const list = root.firstElementChild;
    const first = list.children[0];
    const steps = { mount: log.splice(0) };
    list.componentUpdate({ names: ["b", "a", "c"] });
    list.componentUpdate({ names: ["b", "c"] });
    steps.beforeTask = log.splice(0);
    await new Promise((resolve) => setTimeout(resolve, 20));
    steps.update = log.splice(0);
    list.children[1].click();
    return {
      steps, tag: list.tagName, isList: list instanceof List, isElement: list instanceof Element,
      keptA: first.isConnected, texts: Array.from(list.children, (li) => li.textContent), clicks: list.clicks,
      flex: getComputedStyle(list).display, gap: getComputedStyle(list).columnGap,
    };
  });
  assert.deepEqual(result.steps.mount, ["ctor a", "this a", "render a", "ctor b", "this b", "render b",
                                        "mounted a true", "mounted b true"]);
  assert.deepEqual(result.steps.beforeTask, [], "componentUpdate renders on the next task");
  assert.deepEqual(result.steps.update, ["this b", "render b", "ctor c", "this c", "render c", "unmount a",
                                         "mounted c true"], "two updates, one render");
  assert.equal(result.tag, "UL");
  assert.equal(result.isList, true);
  assert.equal(result.isElement, true);
  assert.deepEqual(result.texts, ["b", "c"]);
  assert.deepEqual(result.clicks, ["c"]);
  assert.equal(result.keptA, false);
  assert.deepEqual([result.flex, result.gap], ["flex", "7px"], "the style set's rewritten rules apply");
});

test("media variables switch their blocks", async () => {
  const widths = await page.evaluate(() => {
    const width = () => getComputedStyle(document.getElementById("root")).width;
    const before = width();
    Window.this.mediaVar("mode", "wide");
    const wide = width();
    Window.this.mediaVars({ mode: "narrow" });
    return [before === "300px", wide, width() === "300px", Window.this.mediaVar("mode")];
  });
  assert.deepEqual(widths, [false, "300px", false, "narrow"]);
});

test("a native call's result, error value and undefined arguments cross the bridge", async () => {
  const answers = await page.evaluate(() => [
    Localizer.Localize(undefined), Localizer.GetLanguages(), String(Localizer.SetCurrentLanguage("Nowhere")),
    typeof Application.Interrupt, (() => { try { Localizer.Missing(); return "called"; } catch { return "threw"; } })(),
  ]);
  assert.deepEqual(answers, ["undefined", ["English", "French", "German", "Spanish"], "Error: no language",
                             "undefined", "threw"]);
});
