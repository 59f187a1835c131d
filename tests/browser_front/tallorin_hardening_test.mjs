// The real tallorin's browser front against a local user who is not the user: the run's secret
// stays off every command line and out of every file others can read, the front's server stays
// answering and bounded under a flood, and however the program ends nothing of its Chromium
// stays behind. Loopback only; every loop is bounded.
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import net from "node:net";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { eventually } from "./page_helpers.mjs";
import { expectNothingLeft, loadPlaywright, makeSandbox, processesOf, startTallorin } from "./tallorin_session.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const playwright = loadPlaywright(process.env.BROWSER_FRONT_MODULES || here);
const program = process.env.TALLORIN_PROGRAM || path.resolve(here, "../../build/ci/bin/tallorin");

// Chromium's profile and scratch folders go into the sandbox (TMPDIR), so a test can see them.
const chromiumLeftovers = (sandbox) => fs.readdirSync(sandbox.root).filter((name) => /chromium/i.test(name));

// One run whose Chromium keeps its folders in the sandbox; removed whatever the test does.
async function withRun(options, body) {
  const sandbox = makeSandbox({ language: "English" });
  let run;
  try {
    run = await startTallorin({ program, sandbox, playwright, ...options, env: { TMPDIR: sandbox.root } });
    await body({ run, sandbox });
  } finally {
    if (run && run.child.exitCode === null && run.child.signalCode === null) {
      await run.page.close().catch(() => {});
      await run.exit();
    }
    await run?.browser.close().catch(() => {});
    await expectNothingLeft(sandbox).finally(() => sandbox.remove());
  }
}

test("no process of a run has the secret on its command line; the profile folder is the user's alone", async () => {
  for (const front of ["browser-headless", "browser"]) {
    await withRun({ front }, async ({ run, sandbox }) => {
      const secret = new URL(run.page.url()).pathname.split("/")[1];
      assert.match(secret, /^[0-9a-f]{32}$/);
      const processes = processesOf(sandbox);
      assert.ok(processes.some(({ command }) => /chromium/.test(command)), `${front}: Chromium is among them`);
      for (const { pid, command } of processes) {
        assert.equal(command.includes(secret), false, `${front}: ${pid} ${command}`);
      }
      const profiles = chromiumLeftovers(sandbox);
      assert.equal(profiles.length, 1, `${front}: one profile folder, Chromium's scratch inside: ${profiles}`);
      assert.equal(fs.statSync(path.join(sandbox.root, profiles[0])).mode & 0o077, 0, `${front}: closed to others`);
    });
  }
});

test("however the program ends, no profile folder and no Chromium stay behind", async () => {
  for (const ending of ["close the window", "SIGTERM", "SIGINT", "SIGHUP", "SIGKILL"]) {
    await withRun({}, async ({ run, sandbox }) => {
      if (ending === "close the window") await run.page.close();
      else run.child.kill(ending);
      assert.equal(await run.exit(), ending === "close the window" ? 0 : ending, run.output());
      await expectNothingLeft(sandbox);
      assert.deepEqual(chromiumLeftovers(sandbox), [], ending);
    });
  }
});

// Threads and resident memory of a process.
function usage(pid) {
  const status = fs.readFileSync(`/proc/${pid}/status`, "utf8");
  return { threads: Number(/^Threads:\s+(\d+)/m.exec(status)[1]), rss: Number(/^VmRSS:\s+(\d+) kB/m.exec(status)[1]) * 1024 };
}

const statusOf = (url, headers = {}) => new Promise((resolve, reject) => {
  http.get(url, { headers }, (response) => { response.resume(); resolve(response.statusCode); }).on("error", reject);
});

test("a flood of idle connections and large bodies without the secret leaves the window answering, bounded", async () => {
  await withRun({}, async ({ run }) => {
    const { page } = run;
    // A low limit of descriptors for the program alone, which the flood runs into: the server
    // must go on through EMFILE.
    execFileSync("prlimit", ["--pid", String(run.child.pid), "--nofile=40:"]);
    const url = new URL(page.url());
    const secret = url.pathname.split("/")[1];
    const host = `127.0.0.1:${url.port}`;
    const pid = run.child.pid;
    const before = usage(pid);
    const sockets = [];
    const open = () => {
      const socket = net.connect({ host: "127.0.0.1", port: Number(url.port) });
      socket.on("error", () => {});
      sockets.push(socket);
      return socket;
    };
    const announced = 16 << 20;
    const heads = [
      `POST /index.html HTTP/1.1\r\nHost: ${host}\r\nContent-Length: ${announced}\r\n\r\n`,
      `POST /${secret}/__front__/bridge HTTP/1.1\r\nHost: ${host}\r\nContent-Length: ${announced}\r\n\r\n`,
      `POST /${secret}/__front__/bridge HTTP/1.1\r\nHost: attacker.example\r\nX-Tallorin-Secret: ${secret}\r\nContent-Length: ${announced}\r\n\r\n`,
    ];
    const chunk = Buffer.alloc(1 << 20, 0x41);
    let peak = before;
    const measure = () => {
      const now = usage(pid);
      peak = { threads: Math.max(peak.threads, now.threads), rss: Math.max(peak.rss, now.rss) };
    };
    try {
      for (let round = 0; round < 4; ++round) {
        for (let i = 0; i < 100; ++i) open();                    // idle: they never say a word
        for (let i = 0; i < 6; ++i) {
          const socket = open();
          socket.write(heads[(round + i) % heads.length]);
          for (let part = 0; part < 4; ++part) socket.write(chunk);  // what the server never reads
        }
        await new Promise((resolve) => setTimeout(resolve, 200));
        measure();
        // The window answers through it all: the page's own bridge and its files.
        assert.equal(await page.evaluate(() => Application.Email), "user@example.com", `round ${round}`);
        assert.equal(await statusOf(page.url()), 200, `round ${round}: the page itself`);
        measure();
      }
      assert.equal(await statusOf(`http://${host}/${secret}/__front__/bridge`, { "X-Tallorin-Secret": secret }), 403,
                   "a GET of the bridge");
    } finally {
      for (const socket of sockets) socket.destroy();
    }
    assert.ok(peak.threads <= before.threads + 20, `threads: ${before.threads} before, at most ${peak.threads} during`);
    assert.ok(peak.rss - before.rss < 64 << 20, `memory: ${before.rss} bytes before, at most ${peak.rss} during`);
    // And after it.
    assert.equal(await page.evaluate(() => Application.Email), "user@example.com");
    await page.close();
    assert.equal(await run.exit(), 0, run.output());
  });
});
