// The browser front's windows as tallorin opens them, on a display (run under Xvfb with no window
// manager): the app window that scripts/run.sh opens shows exactly the form, and a run that no
// test drives opens no port but the front's own server.
import { test } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { eventually, pageArea } from "./page_helpers.mjs";
import { differingPixels, pngToPpm, screenArea } from "./x_display.mjs";
import { attachToWindow, expectNothingLeft, loadPlaywright, makeSandbox, processesOf, processTree, startTallorin,
         tallorinCommand } from "./tallorin_session.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const playwright = loadPlaywright(process.env.BROWSER_FRONT_MODULES || here);
const program = process.env.TALLORIN_PROGRAM || path.resolve(here, "../../build/ci/bin/tallorin");
const screenshots = process.env.SCREENSHOT_DIR || path.join(os.tmpdir(), "tallorin-screenshots");

// A child's end: its exit code, or the signal that ended it.
const ended = (child) => new Promise((resolve) => {
  if (child.exitCode !== null || child.signalCode !== null) resolve(child.exitCode ?? child.signalCode);
  else child.once("exit", (code, signal) => resolve(code ?? signal));
});

test("the app window, opened as scripts/run.sh opens it, shows exactly the form", async () => {
  assert.ok(process.env.DISPLAY, "runs under Xvfb (xvfb-run)");
  fs.mkdirSync(screenshots, { recursive: true });
  const root = fs.mkdtempSync(path.join(os.tmpdir(), "tallorin-app-window-"));
  const devtools = path.join(root, "devtools-endpoint");
  // run_window.mjs's "show" is what scripts/run.sh runs where DISPLAY is set; the endpoint file
  // is this test's own way in.
  const runner = spawn(process.execPath, [path.join(here, "run_window.mjs"), root, program, "show"],
                       { env: { ...process.env, STAND_IN_ENGINE_DEVTOOLS_FILE: devtools }, stdio: ["ignore", "pipe", "pipe"] });
  let output = "";
  runner.stdout.on("data", (chunk) => { output += chunk; });
  runner.stderr.on("data", (chunk) => { output += chunk; });
  const exit = ended(runner);
  let browser;
  try {
    const attached = await attachToWindow({ playwright, file: devtools,
                                            ended: () => runner.exitCode !== null && `run_window.mjs ended: ${output}` });
    browser = attached.browser;
    const { page } = attached;
    await page.locator("#send").waitFor({ timeout: 30000 });
    await page.evaluate(() => document.fonts.ready);
    assert.deepEqual(await pageArea(page), { width: 560, height: 540, scrolled: [0, 0], scrollers: [] });
    // With no window manager the window has no frame: all of it is the page, no bar above it.
    const cdp = await browser.newBrowserCDPSession();
    const { targetInfos } = await cdp.send("Target.getTargets");
    const target = targetInfos.find((info) => info.type === "page" && info.url === page.url());
    const { bounds } = await cdp.send("Browser.getWindowForTarget", { targetId: target.targetId });
    assert.deepEqual([bounds.width, bounds.height], [560, 540], "the window's outer size");
    // And the screen shows, where the window is, what the page draws.
    const drawn = pngToPpm(await page.screenshot());
    const shown = screenArea(bounds, path.join(screenshots, "tallorin-app-window.png"));
    assert.ok(differingPixels(shown, drawn) < 100, "the screen shows the page and nothing over it");
    await page.locator("#cancel").click().catch(() => {});  // the window may be gone before the click returns
    const timer = setTimeout(() => runner.kill("SIGKILL"), 20000);
    assert.equal(await exit, 0, output);
    clearTimeout(timer);
    assert.match(output, /tallorin exited with 0/);
  } finally {
    if (runner.exitCode === null) runner.kill("SIGKILL");
    await exit;
    await browser?.close().catch(() => {});
    fs.rmSync(root, { recursive: true, force: true, maxRetries: 5 });
  }
});

// The listening TCP sockets of the processes: which process, at which address and port.
function listeningSockets(pids) {
  const listening = new Map();  // inode -> address
  for (const table of ["/proc/net/tcp", "/proc/net/tcp6"]) {
    for (const line of fs.readFileSync(table, "utf8").trim().split("\n").slice(1)) {
      const [, local, , state, , , , , , inode] = line.trim().split(/\s+/);
      if (state !== "0A") continue;
      const [host, port] = local.split(":");
      const address = host.length === 8 ? host.match(/../g).reverse().map((byte) => parseInt(byte, 16)).join(".") : host;
      listening.set(inode, { address, port: parseInt(port, 16) });
    }
  }
  const found = [];
  for (const pid of pids) {
    let descriptors = [];
    try { descriptors = fs.readdirSync(`/proc/${pid}/fd`); } catch { continue; }
    for (const descriptor of descriptors) {
      let link = "";
      try { link = fs.readlinkSync(`/proc/${pid}/fd/${descriptor}`); } catch { continue; }
      const inode = /^socket:\[(\d+)\]$/.exec(link)?.[1];
      if (inode && listening.has(inode)) found.push({ pid, ...listening.get(inode) });
    }
  }
  return found;
}

const statusOf = (port) => new Promise((resolve, reject) => {
  http.get({ host: "127.0.0.1", port, path: "/" }, (response) => { response.resume(); resolve(response.statusCode); })
    .on("error", reject);
});

test("a run that no test drives listens on no socket but the front's own server", async () => {
  for (const front of ["browser-headless", "browser"]) {
    const sandbox = makeSandbox({ language: "English" });
    const { env, commandLine } = tallorinCommand({ sandbox, front });
    // Chromium's profile folder goes into the sandbox, and with it when it is removed.
    const child = spawn(program, commandLine, { env: { ...env, TMPDIR: sandbox.root }, stdio: "ignore" });
    const exit = ended(child);
    let tree = [];
    try {
      // The page is up once it has asked the program for its texts, the buttons' last.
      await eventually(() => child.exitCode === null ? sandbox.logs().includes("localize. text=send")
                                                      : assert.fail(`${front}: tallorin ended`),
                       `${front}: the page asked for its texts`, 30000);
      tree = processTree(child.pid);
      const browsers = tree.filter((pid) => {
        try { return /\/chromium$/.test(fs.readFileSync(`/proc/${pid}/cmdline`, "utf8").split("\0")[0]); } catch { return false; }
      });
      assert.ok(browsers.length > 0, `${front}: Chromium runs under tallorin`);
      const sockets = listeningSockets(tree);
      assert.equal(sockets.length, 1, `${front}: ${JSON.stringify(sockets)}`);
      assert.equal(sockets[0].pid, child.pid, `${front}: tallorin's own`);
      assert.equal(sockets[0].address, "127.0.0.1", front);
      assert.equal(await statusOf(sockets[0].port), 403, `${front}: the front's server, refusing a path without the secret`);
    } finally {
      child.kill("SIGTERM");
      const timer = setTimeout(() => child.kill("SIGKILL"), 10000);
      await exit;
      clearTimeout(timer);
      // Chromium dies with the program; its profile is in the sandbox.
      await eventually(() => tree.every((pid) => !fs.existsSync(`/proc/${pid}`)), "Chromium gone", 10000).catch(() => {});
      fs.rmSync(sandbox.root, { recursive: true, force: true, maxRetries: 5 });
    }
  }
});

// An X server of its own with one screen of the size given; its DISPLAY and how to end it.
async function startXvfb(size) {
  const server = spawn("Xvfb", ["-displayfd", "3", "-screen", "0", `${size}x24`, "-nolisten", "tcp"],
                       { stdio: ["ignore", "ignore", "ignore", "pipe"] });
  let told = "";
  server.stdio[3].on("data", (chunk) => { told += chunk; });
  const exit = ended(server);
  await eventually(() => server.exitCode !== null ? assert.fail(`Xvfb ${size} ended`) : /\n/.test(told), `Xvfb ${size}`, 20000);
  return { display: `:${told.trim()}`, stop: async () => { server.kill("SIGTERM"); await exit; } };
}

test("on screens of 1280 x 800 and 1024 x 768 the app window is centred and whole; no command line has the secret", async () => {
  for (const [width, height] of [[1280, 800], [1024, 768]]) {
    const screen = await startXvfb(`${width}x${height}`);
    const sandbox = makeSandbox({ language: "English" });
    let run;
    try {
      run = await startTallorin({ program, sandbox, playwright, front: "browser", env: { DISPLAY: screen.display } });
      const cdp = await run.browser.newBrowserCDPSession();
      const { targetInfos } = await cdp.send("Target.getTargets");
      const target = targetInfos.find((info) => info.type === "page" && info.url === run.page.url());
      const { bounds } = await cdp.send("Browser.getWindowForTarget", { targetId: target.targetId });
      const centred = { left: (width - 560) / 2, top: (height - 540) / 2, width: 560, height: 540 };
      assert.deepEqual({ left: bounds.left, top: bounds.top, width: bounds.width, height: bounds.height }, centred,
                       `${width} x ${height}`);
      await eventually(() => sandbox.logs().includes(`screenW:${width}, screenH:${height}`), "the program saw the screen");
      assert.ok(sandbox.logs().includes(`DPI window rect x:${centred.left}, y:${centred.top}, w:560, h:540`));
      const secret = new URL(run.page.url()).pathname.split("/")[1];
      for (const { pid, command } of processesOf(sandbox)) {
        assert.equal(command.includes(secret), false, `${pid} ${command}`);
      }
      await run.page.screenshot({ path: path.join(screenshots, `tallorin-app-window-${width}x${height}.png`) });
      await run.page.locator("#cancel").click().catch(() => {});
      assert.equal(await run.exit(), 0, run.output());
    } finally {
      if (run && run.child.exitCode === null) run.child.kill("SIGKILL");
      await run?.browser.close().catch(() => {});
      await expectNothingLeft(sandbox).finally(() => sandbox.remove());
      await screen.stop();
    }
  }
});
