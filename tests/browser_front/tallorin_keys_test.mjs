// The real tallorin's window against the browser's own ways: Chromium's shortcuts pressed on a
// real X server (Xvfb, XTest through xdotool) in the app window and through DevTools headless,
// clicks racing keys, and a page process that dies. Run under xvfb-run with no window manager.
import { test as nodeTest, before, after } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { eventually } from "./page_helpers.mjs";
import { compiledInService, expectNothingLeft, loadPlaywright, makeSandbox, processTree, startReportService,
         startTallorin } from "./tallorin_session.mjs";
import { differingPixels, pngToPpm, screenArea, xdotool } from "./x_display.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const source = path.resolve(here, "../..");
const playwright = loadPlaywright(process.env.BROWSER_FRONT_MODULES || here);
const program = process.env.TALLORIN_PROGRAM || path.join(source, "build/ci/bin/tallorin");
const screenshots = process.env.SCREENSHOT_DIR || path.join(os.tmpdir(), "tallorin-screenshots");
const { ports, notOnLoopback } = compiledInService();
const test = (name, body) => nodeTest(name, { skip: notOnLoopback }, body);

// Chromium's shortcuts, as xdotool names the keys: reload, history, zoom, find, print, save,
// open, new windows and tabs, closing, developer tools and source, full screen, its menus,
// bookmarks, history, downloads, the task manager, clearing data, focus moves, help.
const kShortcuts = [
  "ctrl+r", "ctrl+shift+r", "F5", "shift+F5", "XF86Reload",
  "alt+Left", "alt+Right", "alt+Home", "XF86Back", "XF86Forward",
  "ctrl+equal", "ctrl+plus", "ctrl+shift+plus", "ctrl+minus", "ctrl+KP_Add", "ctrl+KP_Subtract", "ctrl+0",
  "ctrl+f", "F3", "ctrl+g", "ctrl+shift+g", "ctrl+p", "ctrl+shift+p", "ctrl+s", "ctrl+o",
  "ctrl+n", "ctrl+shift+n", "ctrl+t", "ctrl+shift+t", "ctrl+w", "ctrl+F4", "ctrl+shift+w", "ctrl+shift+q",
  "F12", "ctrl+shift+i", "ctrl+shift+j", "ctrl+shift+c", "ctrl+u", "F11",
  "alt+f", "alt+e", "F10", "Menu", "shift+F10", "ctrl+d", "ctrl+shift+b", "ctrl+shift+o", "ctrl+h", "ctrl+j",
  "shift+Escape", "ctrl+shift+Delete", "F6", "ctrl+l", "alt+d", "ctrl+k", "ctrl+e", "F1", "F7",
  "ctrl+Tab", "ctrl+Next", "ctrl+1", "ctrl+9",
];
// The same through DevTools, as playwright names them.
const kDevToolsShortcuts = [
  "Control+R", "Control+Shift+R", "F5", "Shift+F5", "Alt+ArrowLeft", "Alt+ArrowRight", "Alt+Home",
  "Control+Equal", "Control+Minus", "Control+Digit0", "Control+F", "F3", "Control+G", "Control+P", "Control+S",
  "Control+O", "Control+N", "Control+Shift+N", "Control+T", "Control+W", "Control+F4", "Control+Shift+W",
  "F12", "Control+Shift+I", "Control+Shift+J", "Control+Shift+C", "Control+U", "F11", "Alt+F", "Alt+E",
  "F10", "ContextMenu", "Shift+F10", "Control+D", "Control+H", "Control+J", "Shift+Escape", "F6",
  "Control+L", "Control+K", "F1", "F7", "Control+Tab", "Control+PageDown", "Control+Digit1",
];

let service;
let serviceRoot;

before(async () => {
  if (notOnLoopback) return;
  fs.mkdirSync(screenshots, { recursive: true });
  serviceRoot = fs.mkdtempSync(path.join(os.tmpdir(), "tallorin-service-"));
  service = await startReportService({ script: path.join(source, "tests/report_service/report_service.py"),
                                       root: serviceRoot, ports });
});

after(async () => {
  await service?.stop();
  if (serviceRoot) fs.rmSync(serviceRoot, { recursive: true, force: true });
});

// One run, ended and cleaned up whatever the test does; anything of it left running fails it.
async function withWindow({ front, email }, body) {
  const sandbox = makeSandbox({ language: "English" });
  const reportsBefore = service.bugReports().length;
  const run = await startTallorin({ program, sandbox, playwright, front, email });
  let failure;
  try {
    await body({ ...run, sandbox, reports: () => service.bugReports().slice(reportsBefore) });
  } catch (error) {
    failure = error;
  }
  if (run.child.exitCode === null) {
    await run.page.close().catch(() => {});
    await run.exit();
  }
  await run.browser.close().catch(() => {});
  await expectNothingLeft(sandbox).catch((error) => { failure ??= error; });
  sandbox.remove();
  if (failure) throw failure;
}

// The page as the program made it, in one look: still the first document, at its size and
// scale, alone among the browser's pages, its window neither full screen nor moved.
async function lookAt(run) {
  const cdp = await run.browser.newBrowserCDPSession();
  const { targetInfos } = await cdp.send("Target.getTargets");
  const pages = targetInfos.filter((info) => info.type === "page");
  const ours = pages.find((info) => info.url === run.page.url());
  const { bounds } = ours ? await cdp.send("Browser.getWindowForTarget", { targetId: ours.targetId }) : {};
  await cdp.detach();
  const inPage = await run.page.evaluate(() => ({
    marked: window.__unchanged === true, url: location.href, history: history.length,
    size: [innerWidth, innerHeight], ratio: devicePixelRatio, scale: visualViewport.scale,
    fullScreen: !!document.fullscreenElement, description: document.querySelector("#description")?.value,
  }));
  return { ...inPage, pages: pages.map((info) => info.url), bounds, running: run.child.exitCode === null };
}

async function markPage(run) {
  await run.page.evaluate(() => { window.__unchanged = true; });
  return lookAt(run);
}

// The centre of an element of the page (of the box's frame with `frame`) on the X screen: with
// no window manager the window has no frame, its page area starts at its corner.
async function onScreen(run, selector, frame) {
  const scope = frame ? run.page.frameLocator("iframe").locator(selector) : run.page.locator(selector);
  const box = await scope.boundingBox();
  const { bounds } = await lookAt(run);
  return [Math.round(bounds.left + box.x + box.width / 2), Math.round(bounds.top + box.y + box.height / 2)];
}

// Each shortcut by itself, with a moment for the browser to act on it.
async function pressAll(keys, press) {
  for (const key of keys) {
    await press(key);
    await new Promise((resolve) => setTimeout(resolve, 40));
  }
  await new Promise((resolve) => setTimeout(resolve, 500));
}

// The same from the X server, in one run of xdotool.
async function pressX(keys) {
  xdotool("key", "--delay", 40, ...keys);
  await new Promise((resolve) => setTimeout(resolve, 500));
}

function expectUnchanged(seen, first, where) {
  assert.deepEqual({ ...seen, bounds: seen.bounds && { ...seen.bounds, windowState: seen.bounds.windowState } },
                   { ...first, bounds: first.bounds && { ...first.bounds, windowState: "normal" } }, where);
}

test("in the app window no shortcut from the X server changes the page; a racing click sends nothing; one report", async () => {
  assert.ok(process.env.DISPLAY, "runs under Xvfb (xvfb-run)");
  await withWindow({ front: "browser" }, async (run) => {
    const { page } = run;
    const box = page.frameLocator("iframe");
    const [x, y] = await onScreen(run, "#description");
    xdotool("mousemove", x, y, "click", 1, "type", "typed on the X server");
    await eventually(async () => (await page.inputValue("#description")) === "typed on the X server", "typed");
    const first = await markPage(run);
    assert.deepEqual([first.pages.length, first.size, first.ratio], [1, [560, 540], 1]);

    await pressX(kShortcuts);
    // Ctrl and the wheel, and the mouse's context menu.
    xdotool("mousemove", x, y, "keydown", "ctrl", "click", 4, "click", 4, "click", 5, "keyup", "ctrl", "click", 3);
    await new Promise((resolve) => setTimeout(resolve, 500));
    expectUnchanged(await lookAt(run), first, "the form");
    // Nothing of the browser's over the window (a find bar, a menu, a bubble).
    const shown = screenArea(first.bounds, path.join(screenshots, "tallorin-keys-form.png"));
    assert.ok(differingPixels(shown, pngToPpm(await page.screenshot())) < 100, "the screen shows the page alone");
    xdotool("key", "Escape");

    // A key that spoils the address and a click on send, back to back: the click is judged by
    // the address it finds.
    const send = await onScreen(run, "#send");
    for (let attempt = 0; attempt < 2; ++attempt) {
      await page.focus("#email");
      await page.press("#email", "End");
      xdotool("mousemove", ...send, "key", "exclam", "click", 1);
      await eventually(() => page.isDisabled("#send"), "send disabled");
      await new Promise((resolve) => setTimeout(resolve, 300));
      assert.deepEqual([run.reports().length, await page.locator("iframe").count()], [0, 0], `attempt ${attempt}`);
      await page.focus("#email");
      xdotool("key", "BackSpace");
      await eventually(() => page.isEnabled("#send"), "send enabled again").catch(async (error) => {
        throw new Error(`${error.message}: ${JSON.stringify(await page.inputValue("#email"))}`);
      });
    }

    // Send, clicked and pressed as fast as X takes it.
    xdotool("mousemove", ...send, "click", "--repeat", 3, "--delay", 1, 1, "key", "Return", "space", "Return");
    await box.locator("#ok").waitFor();
    await pressX(kShortcuts);
    const onBox = await lookAt(run);
    expectUnchanged(onBox, first, "the thank-you box");
    assert.equal(await box.locator("#ok").count(), 1, "the box is still open");
    // Tab goes round the box's buttons; Enter presses the one it is on, closing the box.
    xdotool("key", "Tab", "Tab", "Tab", "Tab", "Tab");
    const focused = await box.locator(":focus").getAttribute("id");
    assert.ok(["ok", "close"].includes(focused), `the keyboard in the box: ${focused}`);
    xdotool("key", "Return");
    assert.equal(await run.exit(), 0, run.output());
    const reports = run.reports();
    assert.equal(reports.length, 1, "one report");
    assert.equal(reports[0]["tester-email"], "user@example.com");
    assert.notEqual(reports[0]["attach-data"] ?? "", "", "the report's data");
  });
});

test("headless, no shortcut through DevTools changes the form or the box; one report", async () => {
  await withWindow({}, async (run) => {
    const { page } = run;
    await page.fill("#description", "typed headless");
    const first = await markPage(run);
    await page.focus("#description");
    await pressAll(kDevToolsShortcuts, (key) => page.keyboard.press(key));
    expectUnchanged(await lookAt(run), first, "the form");
    await page.click("#send");
    await page.frameLocator("iframe").locator("#ok").waitFor();
    await pressAll(kDevToolsShortcuts, (key) => page.keyboard.press(key));
    expectUnchanged(await lookAt(run), first, "the thank-you box");
    for (let i = 0; i < 5; ++i) await page.keyboard.press("Tab");
    await page.keyboard.press("Enter").catch(() => {});  // the window may be gone before it returns
    assert.equal(await run.exit(), 0, run.output());
    assert.equal(run.reports().length, 1);
  });
});

test("an address the bridge refuses is an error in the program's log", async () => {
  await withWindow({}, async (run) => {
    await run.page.fill("#email", `${"a".repeat(1 << 20)}@example.com`);
    await eventually(() => run.page.isEnabled("#send"), "send enabled");
    await run.page.click("#send");
    await run.page.frameLocator("iframe").locator("#ok").click().catch(() => {});
    assert.equal(await run.exit(), 0, run.output());
    assert.equal(run.reports().length, 0);
    assert.match(run.sandbox.logs(), /\[error\].*ERROR: SCRIPT: bridge answered 413 to call Application\.SendReport/);
  });
});

// The renderers of the run's Chromium; the window's page is in one of them.
function renderersOf(run) {
  return processTree(run.child.pid).filter((pid) => {
    try { return /(^|\s|\0)--type=renderer(\s|\0|$)/.test(fs.readFileSync(`/proc/${pid}/cmdline`, "latin1")); }
    catch { return false; }
  });
}

test("a page process that dies closes the window and ends the run at once, with a log record", async () => {
  for (const front of ["browser-headless", "browser"]) {
    await withWindow({ front }, async (run) => {
      const renderers = renderersOf(run);
      assert.ok(renderers.length > 0, `${front}: renderers`);
      const killed = Date.now();
      for (const pid of renderers) process.kill(pid, "SIGKILL");
      assert.equal(await run.exit(10000), 0, `${front}: ${run.output()}`);
      assert.ok(Date.now() - killed < 5000, `${front}: ended after ${Date.now() - killed} ms`);
      assert.match(run.sandbox.logs(), /\[error\].*browser front: the page's process has ended; the window closes/);
      assert.equal(run.reports().length, 0);
    });
  }
});
