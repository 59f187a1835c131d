// scripts/run.sh's part: the crash window of the real tallorin against the report-service double.
//   node run_window.mjs SANDBOX PROGRAM show   Chromium app window on the display; you use it
//   node run_window.mjs SANDBOX PROGRAM fill   headless: filled in and sent as a user would
// The double's records and the screenshots stay in SANDBOX. Chromium opens no DevTools port
// unless STAND_IN_ENGINE_DEVTOOLS_FILE names a file for its endpoint (the headless run's own
// driver does; a test that drives the app window does).
import { spawn } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { compiledInService, loadPlaywright, makeSandbox, startReportService, startTallorin, tallorinCommand } from "./tallorin_session.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
// As the product starts it: its name and version are in the report and its title.
const kProduct = ["--product", "Velmora Antivirus", "--version", "14.3.43577.3505"];
const [root, program, mode] = process.argv.slice(2);
// The double on the ports that the build compiles in; off loopback on free ports, which the
// program's reports cannot reach.
const { ports, notOnLoopback } = compiledInService();
const servicePorts = notOnLoopback ? [0, 0] : ports;
const sandbox = makeSandbox({ folder: root });
const service = await startReportService({ script: path.resolve(here, "../report_service/report_service.py"), root, ports: servicePorts });
let status;
try {
  if (mode === "show") {
    const { env, commandLine } = tallorinCommand({ sandbox, front: "browser", args: kProduct,
                                                   devtools: process.env.STAND_IN_ENGINE_DEVTOOLS_FILE });
    const child = spawn(program, commandLine, { env, stdio: "inherit" });
    status = await new Promise((resolve) => child.on("exit", (code) => resolve(code)));
  } else {
    const playwright = loadPlaywright(process.env.BROWSER_FRONT_MODULES || here);
    const run = await startTallorin({ program, sandbox, playwright, args: kProduct });
    const shots = path.join(root, "screenshots");
    fs.mkdirSync(shots, { recursive: true });
    await run.page.fill("#description", "The scan stopped and the window closed.");
    await run.page.fill("#email", "reporter@example.net");
    await run.page.screenshot({ path: path.join(shots, "form.png") });
    await run.page.click("#send");
    const box = run.page.frameLocator("iframe");
    await box.locator("#ok").waitFor();
    await run.page.screenshot({ path: path.join(shots, "thank-you.png") });
    await box.locator("#ok").click().catch(() => {});  // the window may be gone before the click returns
    status = await run.exit();
    console.log(`screenshots: ${shots}/form.png ${shots}/thank-you.png`);
  }
} finally {
  await service.stop();
}
console.log(`tallorin exited with ${status}`);
const reports = path.join(service.state, "requests");
const received = fs.existsSync(reports) ? fs.readdirSync(reports).filter((name) => name.endsWith(".body")) : [];
for (const report of service.bugReports()) console.log(`report "${report.title}"`);
console.log(received.length > 0 ? `received report: ${received.map((name) => path.join(reports, name)).join(" ")}`
                                : `the report service received nothing (records folder: ${service.state})`);
process.exit(status === 0 ? 0 : 1);
