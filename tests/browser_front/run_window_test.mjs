// The run command's headless run (scripts/run.sh without a display): the real tallorin started
// as the product starts it, its window filled in and sent, against the report-service double.
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFile } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { compiledInService } from "./tallorin_session.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const program = process.env.TALLORIN_PROGRAM || path.resolve(here, "../../build/ci/bin/tallorin");

test("the run command's report carries the product's name and version and its title", { skip: compiledInService().notOnLoopback }, async () => {
  const sandbox = fs.mkdtempSync(path.join(os.tmpdir(), "tallorin-run-"));
  try {
    const { code, stdout } = await new Promise((resolve) => {
      // Two minutes for the run, on top of the double's wait for its ports (lock and bind).
      execFile(process.execPath, [path.join(here, "run_window.mjs"), sandbox, program, "fill"], { timeout: (120 + 690) * 1000 },
               (error, out, err) => resolve({ code: error ? error.code ?? error.signal : 0, stdout: `${out}${err}` }));
    });
    assert.equal(code, 0, stdout);
    assert.match(stdout, /^report "Velmora Antivirus Crash Report"$/m);
    const requests = path.join(sandbox, "report-service", "requests");
    const bodies = fs.readdirSync(requests).filter((name) => name.endsWith(".body"))
      .map((name) => fs.readFileSync(path.join(requests, name), "utf8"));
    const report = bodies.map((body) => JSON.parse(body)).find((body) => "title" in body);
    assert.ok(report, stdout);
    assert.equal(report["product-name"], "Velmora Antivirus");
    assert.equal(report["product-version"], "14.3.43577.3505");
  } finally {
    fs.rmSync(sandbox, { recursive: true, force: true });
  }
});
