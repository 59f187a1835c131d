// The real tallorin with the stand-in engine's browser front in headless Chromium, a sandbox
// that stands in for the Windows machine's special folders, and the report-service double.
// Used by the end-to-end tests and by scripts/run.sh's headless run.
import { spawn, execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { createRequire } from "node:module";
import { eventually } from "./page_helpers.mjs";

const kProductFolder = ["Quorbelin", "Velmora Antivirus"];
export const kCrashUuid = "0f8fad5b-d9cb-469f-a165-70867728950e";

export function loadPlaywright(modules) {
  return createRequire(path.join(modules, "package.json"))("playwright-core");
}

// ProgramData and AppData of one run; `language` is written to the saved-language file.
export function makeSandbox({ language, folder } = {}) {
  const root = folder || fs.mkdtempSync(path.join(os.tmpdir(), "tallorin-e2e-"));
  const data = path.join(root, "ProgramData", ...kProductFolder);
  fs.mkdirSync(path.join(data, "crash_info"), { recursive: true });
  fs.mkdirSync(path.join(data, "settings"), { recursive: true });
  // The double's certificate is self-signed: the marker turns peer verification off.
  fs.writeFileSync(path.join(data, "settings", "verify-peer"), "");
  fs.writeFileSync(path.join(data, "crash_info", `${kCrashUuid}.dmp`), "MDMP stand-in dump");
  const settings = path.join(root, "AppData", "Roaming", ...kProductFolder, "settings");
  fs.mkdirSync(settings, { recursive: true });
  if (language) fs.writeFileSync(path.join(settings, "language"), JSON.stringify({ language }));
  return {
    root,
    logs: () => {
      const folder = path.join(data, "logs");
      if (!fs.existsSync(folder)) return "";
      return fs.readdirSync(folder).map((name) => fs.readFileSync(path.join(folder, name), "utf8")).join("");
    },
    remove: () => fs.rmSync(root, { recursive: true, force: true }),
  };
}

// The base URLs that the build compiles in (as CMake passes them to the tests; the default
// preset's without), and why the double cannot stand on them, or false: the program posts to
// them, so they must name two ports on loopback.
export function compiledInService(env = process.env) {
  const urls = [env.TALLORIN_PRODUCTION_BASE_URL || "https://127.0.0.1:24731/api",
                env.TALLORIN_STAGING_BASE_URL || "https://127.0.0.1:24732/api"];
  const ports = urls.map((url) => Number(/^https:\/\/127\.0\.0\.1:([1-9][0-9]{0,4})(\/|$)/.exec(url)?.[1]));
  const onLoopback = ports.every((port) => port <= 65535) && ports[0] !== ports[1];
  return { ports, notOnLoopback: !onLoopback &&
    `this build's base URLs (${urls.join(", ")}) are not two ports on loopback, where the report-service double runs` };
}

// The processes that run with the sandbox as their PLATFORM_ROOT: the program, and the Chromium
// it started with every helper of that browser, which inherit its environment.
export function processesOf(sandbox) {
  const marker = `\0PLATFORM_ROOT=${sandbox.root}\0`;
  const found = [];
  for (const pid of fs.readdirSync("/proc").filter((name) => /^\d+$/.test(name))) {
    try {
      if (`\0${fs.readFileSync(`/proc/${pid}/environ`, "latin1")}`.includes(marker)) {
        found.push({ pid: Number(pid), command: fs.readFileSync(`/proc/${pid}/cmdline`, "latin1").replaceAll("\0", " ").trim() });
      }
    } catch {
      // gone meanwhile, or not ours to read
    }
  }
  return found;
}

// The process and every process under it.
export function processTree(root) {
  const parents = new Map();
  for (const name of fs.readdirSync("/proc").filter((entry) => /^\d+$/.test(entry))) {
    try {
      const stat = fs.readFileSync(`/proc/${name}/stat`, "utf8");
      parents.set(Number(name), Number(stat.slice(stat.lastIndexOf(")") + 2).split(" ")[1]));
    } catch {
      // gone meanwhile
    }
  }
  const tree = [root];
  for (let index = 0; index < tree.length; ++index) {
    for (const [pid, parent] of parents) if (parent === tree[index]) tree.push(pid);
  }
  return tree;
}

// Fails when anything of a run outlives it by more than a few seconds (the browser's helpers
// end shortly after the browser); what is left is killed first, so that the tests go on.
export async function expectNothingLeft(sandbox, timeout = 10000) {
  const deadline = Date.now() + timeout;
  let left = processesOf(sandbox);
  while (left.length > 0 && Date.now() < deadline) {
    await new Promise((resolve) => setTimeout(resolve, 100));
    left = processesOf(sandbox);
  }
  for (const { pid } of left) {
    try { process.kill(pid, "SIGKILL"); } catch { /* ended meanwhile */ }
  }
  if (left.length > 0) {
    throw new Error(`left running after the program ended:\n${left.map(({ pid, command }) => `  ${pid} ${command}`).join("\n")}`);
  }
}

// The double on the ports that the build compiles in; its records stay in `<root>/report-service`.
export async function startReportService({ script, root, ports }) {
  const state = path.join(root, "report-service");
  fs.mkdirSync(state, { recursive: true });
  const cert = path.join(state, "loopback.pem");
  const key = path.join(state, "loopback.key");
  execFileSync("openssl", ["req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                           "-nodes", "-days", "2", "-keyout", key, "-out", cert, "-subj", "/CN=127.0.0.1",
                           "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"], { stdio: "ignore" });
  const child = spawn("python3", [script, "--state", state, "--cert", cert, "--key", key,
                                  "--production-port", String(ports[0]), "--staging-port", String(ports[1])],
                      { stdio: ["ignore", "pipe", "pipe"] });
  let output = "";
  // Its only line of its own says that it waits for another run's hold on the ports.
  child.stdout.on("data", (chunk) => { output += chunk; console.error(String(chunk).trimEnd()); });
  child.stderr.on("data", (chunk) => { output += chunk; });
  let ended = false;
  child.on("exit", () => { ended = true; });
  // The double waits up to ten minutes for the machine-wide lock of the fixed ports, then up to
  // 90 s for another program to free them.
  await eventually(() => ended || fs.existsSync(path.join(state, "ready")), "report service ready", (11 * 60 + 90) * 1000);
  if (ended) throw new Error(`the report-service double did not start: ${output}`);
  return {
    state,
    // Every request to the bug endpoint, with its JSON body.
    bugReports: () => {
      const folder = path.join(state, "requests");
      if (!fs.existsSync(folder)) return [];
      return fs.readdirSync(folder).filter((name) => name.endsWith(".json")).sort()
        .map((name) => ({ meta: JSON.parse(fs.readFileSync(path.join(folder, name), "utf8")),
                          body: fs.readFileSync(path.join(folder, name.replace(/\.json$/, ".body")), "utf8") }))
        .filter((request) => request.meta.path === "/api/bug")
        .map((request) => JSON.parse(request.body));
    },
    // Ends the double; one that does not end on SIGTERM is killed, and that fails the caller.
    stop: () => new Promise((resolve, reject) => {
      if (ended) return resolve();
      const timer = setTimeout(() => child.kill("SIGKILL"), 10000);
      child.once("exit", (code, signal) => {
        clearTimeout(timer);
        if (signal === "SIGKILL") reject(new Error(`the report-service double did not end on SIGTERM: ${output}`));
        else resolve();
      });
      child.kill("SIGTERM");
    }),
  };
}

// How the run command starts tallorin with the browser front ("browser-headless", or "browser":
// an app window where DISPLAY is set): its environment and command line. `devtools` names the
// file where the engine writes its DevTools endpoint; without it Chromium opens no port.
export function tallorinCommand({ sandbox, front = "browser-headless", email = "user@example.com", args = [], devtools }) {
  const env = { ...process.env, PLATFORM_ROOT: sandbox.root, VELMORA_LOG_LEVEL: "debug", STAND_IN_ENGINE_FRONT: front };
  for (const name of ["STAND_IN_ENGINE_DEVTOOLS_FILE", "STAND_IN_ENGINE_SCENARIO", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"]) delete env[name];
  if (devtools) env.STAND_IN_ENGINE_DEVTOOLS_FILE = devtools;
  return { env, commandLine: ["--crash-uuid", kCrashUuid, ...(email === null ? [] : ["--email", email]), ...args] };
}

// Waits for the DevTools endpoint that the engine writes into `file` once the window is sized,
// attaches to that Chromium and answers the window's page as the program made it.
export async function attachToWindow({ playwright, file, ended }) {
  const endpoint = await eventually(() => ended() ? Promise.reject(new Error(ended()))
                                                  : fs.existsSync(file) && fs.readFileSync(file, "utf8").trim(),
                                    "the DevTools endpoint", 30000);
  const browser = await playwright.chromium.connectOverCDP(endpoint);
  const context = browser.contexts()[0];
  const page = context.pages()[0] || await context.waitForEvent("page");
  return { browser, page };
}

// Starts tallorin with the browser front (headless unless `front` says otherwise) and attaches
// to its Chromium. `env` adds to its environment; `prefix` is a command that execs it.
export async function startTallorin({ program, sandbox, playwright, args = [], email = "user@example.com", front,
                                      env: extra = {}, prefix = [] }) {
  const devtools = path.join(sandbox.root, "devtools-endpoint");
  fs.rmSync(devtools, { force: true });
  const { env, commandLine } = tallorinCommand({ sandbox, front, email, args, devtools });
  const command = [...prefix, program, ...commandLine];
  const child = spawn(command[0], command.slice(1), { env: { ...env, ...extra }, stdio: ["ignore", "pipe", "pipe"] });
  let output = "";
  child.stdout.on("data", (chunk) => { output += chunk; });
  child.stderr.on("data", (chunk) => { output += chunk; });
  let exitCode = null;
  const exited = new Promise((resolve) => child.on("exit", (code, signal) => { exitCode = code ?? signal; resolve(exitCode); }));
  try {
    const { browser, page } = await attachToWindow({
      playwright, file: devtools, ended: () => exitCode !== null && `tallorin exited with ${exitCode}: ${output}` });
    await page.locator("#send").waitFor({ timeout: 30000 });
    return {
      child, page, browser, exited, output: () => output,
      // Waits for the exit; the process is killed when it does not end in time.
      exit: async (timeout = 15000) => {
        const timer = setTimeout(() => child.kill("SIGKILL"), timeout);
        const code = await exited;
        clearTimeout(timer);
        await browser.close().catch(() => {});
        return code;
      },
    };
  } catch (error) {
    child.kill("SIGKILL");
    throw error;
  }
}
