// End to end: the real tallorin shows the crash window through the stand-in engine's browser
// front in headless Chromium; the tests attach to that Chromium and use the window as a user
// would, against the report-service double.
import { test as nodeTest, before, after } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { eventually as eventuallyWithin, expectTextLimit, textOf } from "./page_helpers.mjs";
import { compiledInService, expectNothingLeft, loadPlaywright, makeSandbox, startReportService, startTallorin } from "./tallorin_session.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const source = path.resolve(here, "../..");
const playwright = loadPlaywright(process.env.BROWSER_FRONT_MODULES || here);
const program = process.env.TALLORIN_PROGRAM || path.join(source, "build/ci/bin/tallorin");
const { ports, notOnLoopback } = compiledInService();
const test = (name, body) => nodeTest(name, { skip: notOnLoopback }, body);
const screenshots = process.env.SCREENSHOT_DIR || path.join(os.tmpdir(), "tallorin-screenshots");

const kEnglish = {
  caption: "Critical Error",
  paragraphs: ["We’re sorry, the information you were working on might be lost.",
               "Upon closing, a crash report was generated. Please send it to us with description of a problem in a form below to help us to fix it and improve this software."],
  label: "Please give us as much details as possible",
  invalid: "Email must be in form of name@example.com",
  thanks: "Thank You for Submitting!",
};
const kGerman = {
  caption: "Kritischer Fehler",
  paragraphs: ["Es tut uns leid! Die Informationen, an denen Sie gearbeitet haben, könnten verloren gehen.",
               "Beim Schließen wurde ein Absturzbericht erstellt. Senden Sie uns bitte den Bericht mit einer Beschreibung des Problems im nachstehenden Formular. So helfen Sie uns, das Problem zu beheben und diese Software zu verbessern."],
  label: "Geben Sie bitte so viele Details wie möglich an",
};

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

// Re-renders of a page that talks to the real program take longer than the stand-in server.
const eventually = (check, what) => eventuallyWithin(check, what, 10000);

// One run of the program, ended and cleaned up whatever the test does. A program that does not
// end once its window is closed, or anything of the run left running after it, fails the test.
async function withWindow(options, body) {
  const sandbox = makeSandbox({ language: options.language });
  const reportsBefore = service.bugReports().length;
  const run = await startTallorin({ program, sandbox, playwright, email: options.email ?? "user@example.com" });
  const errors = [];
  run.page.on("pageerror", (error) => errors.push(error));
  let failure;
  try {
    await body({ ...run, sandbox, reports: () => service.bugReports().slice(reportsBefore) });
    assert.deepEqual(errors, [], "no script errors");
  } catch (error) {
    failure = error;
  }
  // Closing the page closes the window: the program ends its Chromium itself.
  if (run.child.exitCode === null) {
    await run.page.close().catch(() => {});
    if (await run.exit() === "SIGKILL") {
      failure ??= new Error(`the program did not end once its window was closed: ${run.output()}`);
    }
  }
  await run.browser.close().catch(() => {});
  try {
    await expectNothingLeft(sandbox);
  } catch (error) {
    failure ??= error;
  }
  sandbox.remove();
  if (failure) throw failure;
}

// A click that ends the program: Chromium may be gone before the click is acknowledged.
async function clickToClose(locator) {
  await locator.click().catch((error) => {
    if (!/has been closed/.test(error.message)) throw error;
  });
}

async function expectForm(page, texts) {
  assert.equal(await textOf(page, ".caption-text"), texts.caption);
  assert.deepEqual(await page.locator(".description .text-item").allInnerTexts(), texts.paragraphs);
  assert.equal(await textOf(page, ".textarea-label"), texts.label);
}

// Sends, closes the thank-you box with OK and waits for the exit; whether the report went.
async function sendAndClose(run) {
  await run.page.click("#send");
  const box = run.page.frameLocator("iframe");
  await box.locator("#ok").waitFor();
  assert.equal(await box.locator(".message-box-title").innerText(), kEnglish.thanks);
  assert.equal((await box.locator("#ok").innerText()).toLowerCase(), "ok");
  await run.page.screenshot({ path: path.join(screenshots, "tallorin-thank-you.png") });
  await clickToClose(box.locator("#ok"));
  assert.equal(await run.exit(), 0, run.output());
  const log = run.sandbox.logs();
  assert.match(log, /send report\. email=/, "the call reached Application.SendReport");
  assert.match(log, /report bug result=true/, "the report client delivered the report");
  return log;
}

test("the window opens with the command line's address and the English texts", async () => {
  await withWindow({}, async ({ page }) => {
    await expectForm(page, kEnglish);
    assert.equal(await page.inputValue("#email"), "user@example.com");
    assert.equal(await page.getAttribute("#email", "placeholder"), "Email");
    assert.equal(await textOf(page, ".textarea-counter"), "0/300");
    assert.equal((await textOf(page, "#cancel")).toLowerCase(), "cancel");
    assert.equal((await textOf(page, "#send")).toLowerCase(), "send");
    assert.equal(await page.isEnabled("#send"), true);
    assert.equal(await page.locator(".input-error").count(), 0);
    await page.screenshot({ path: path.join(screenshots, "tallorin-form-english.png") });
  });
});

test("after send, Enter and Space reach only the thank-you box: exactly one report", async () => {
  await withWindow({}, async (run) => {
    const { page } = run;
    await page.focus("#send");
    await page.keyboard.press("Enter");
    await page.frameLocator("iframe").locator("#ok").waitFor();
    // The first of them presses OK: the box closes, then the window; the rest find no window.
    for (const key of [" ", "Enter", " ", "Enter"]) await page.keyboard.press(key).catch(() => {});
    assert.equal(await run.exit(), 0, run.output());
    assert.equal(run.reports().length, 1);
    assert.equal(run.sandbox.logs().match(/send report\. email=/g).length, 1);
  });
});

test("an invalid address blocks send until a valid one is typed; emptied, the report goes without one", async () => {
  await withWindow({ email: "user@localhost" }, async (run) => {
    const { page } = run;
    assert.equal(await page.isDisabled("#send"), true);
    assert.equal(await textOf(page, ".input-error"), kEnglish.invalid);
    await page.fill("#email", "someone@example.org");
    await eventually(() => page.isEnabled("#send"), "send enabled");
    assert.equal(await page.locator(".input-error").count(), 0);
    await page.fill("#email", "");
    await eventually(async () => (await page.locator(".input-error").count()) === 1, "empty marked invalid");
    assert.equal(await page.isEnabled("#send"), true, "an empty address does not block sending");
    await sendAndClose(run);
    const reports = run.reports();
    assert.equal(reports.length, 1);
    assert.equal(reports[0]["tester-email"], "");
    assert.equal(reports[0].description, "", "nothing typed: an empty description, not the text of undefined");
  });
});

test("the text area takes no 301st character", async () => {
  await withWindow({}, async ({ page }) => {
    await expectTextLimit(page, 10000);
  });
});

test("send delivers the typed description and address, thanks, and OK ends the program", async () => {
  await withWindow({}, async (run) => {
    await run.page.fill("#email", "reporter@example.net");
    await run.page.fill("#description", "It crashed while scanning <C:\\>.");
    // A language change on the way: the program calls the components' listeners during the
    // call, and their console lines reach the log.
    const seen = await run.page.evaluate(() => {
      const languages = [];
      Localizer.on("language-changed", (language) => languages.push(language));
      Localizer.SetCurrentLanguage("German");
      Localizer.SetCurrentLanguage("English");
      return languages;
    });
    assert.deepEqual(seen, ["German", "English"]);
    await eventually(async () => (await textOf(run.page, ".caption-text")) === kEnglish.caption, "English again");
    const logged = run.sandbox.logs();
    for (const line of ["INFO: SCRIPT: <App> language changed. language=German", "INFO: SCRIPT: <CaptionBar> locale changed",
                        "INFO: SCRIPT: <Input> locale changed"]) {
      assert.ok(logged.includes(line), line);
    }
    const log = await sendAndClose(run);
    assert.ok(log.includes("send report. email=reporter@example.net. description=It crashed while scanning <C:\\>."));
    const reports = run.reports();
    assert.equal(reports.length, 1);
    assert.equal(reports[0]["tester-email"], "reporter@example.net");
    assert.equal(reports[0].description, "It crashed while scanning &lt;C:\\&gt;.");
  });
});

test("cancel, the caption's close button and closing Chromium's window end the program without sending", async () => {
  for (const how of ["#cancel", ".caption #close", "close the page"]) {
    await withWindow({}, async (run) => {
      if (how === "close the page") await run.page.close();
      else await clickToClose(run.page.locator(how));
      assert.equal(await run.exit(), 0, `${how}: ${run.output()}`);
      const log = run.sandbox.logs();
      assert.equal(log.includes("send report."), false, how);
      assert.deepEqual(run.reports(), [], how);
      if (how === "#cancel") assert.ok(log.includes("INFO: SCRIPT: <App> cancel"), "console reaches the log");
    });
  }
});

test("a saved German language shows the German texts, the paragraphs inline, OK and Email unchanged", async () => {
  await withWindow({ language: "German" }, async ({ page }) => {
    await expectForm(page, kGerman);
    const display = await page.$$eval(".description .text-item", (items) => items.map((item) => getComputedStyle(item).display));
    assert.deepEqual(display, ["inline", "inline"]);
    assert.equal(await page.getAttribute("#email", "placeholder"), "Email");
    await page.screenshot({ path: path.join(screenshots, "tallorin-form-german.png") });
    await page.click("#send");
    const box = page.frameLocator("iframe");
    assert.equal((await box.locator("#ok").innerText()).toLowerCase(), "ok");
    assert.equal(await box.locator(".message-box-title").innerText(), "Danke für Ihren Bericht!");
  });
  for (const [language, caption] of [["French", "Erreur critique"], ["Spanish", "Error crítico"]]) {
    await withWindow({ language }, async ({ page }) => {
      assert.equal(await textOf(page, ".caption-text"), caption, language);
    });
  }
});

test("Ctrl+F5 reloads the page: the address and description start afresh, the objects still answer", async () => {
  await withWindow({}, async (run) => {
    const { page } = run;
    await page.fill("#email", "other@example.org");
    await page.fill("#description", "typed before the reload");
    const before = page.url();
    const reloaded = page.waitForEvent("framenavigated", { predicate: (frame) => frame === page.mainFrame() });
    await page.keyboard.press("Control+F5");
    await reloaded;
    await page.locator("#send").waitFor();
    assert.equal(page.url(), before);
    assert.equal(await page.inputValue("#email"), "user@example.com");
    assert.equal(await page.inputValue("#description"), "");
    assert.deepEqual(await page.evaluate(() => [Application.Email, Localizer.GetCurrentLanguage()]),
                     ["user@example.com", "English"]);
    assert.match(run.sandbox.logs(), /\[MainWindow::handle_key\]: reload/);
    await clickToClose(page.locator("#cancel"));
    assert.equal(await run.exit(), 0);
  });
});

function request(url, { host, secret, body }) {
  return new Promise((resolve, reject) => {
    const target = new URL(url);
    const headers = { "Content-Type": "application/json", Host: host ?? target.host };
    if (secret) headers["X-Tallorin-Secret"] = secret;
    const sent = http.request({ hostname: target.hostname, port: target.port, path: target.pathname,
                                method: body === undefined ? "GET" : "POST", headers }, (response) => {
      response.resume();
      response.on("end", () => resolve(response.statusCode));
    });
    sent.on("error", reject);
    sent.end(body);
  });
}

test("the server refuses requests without the run's secret or with a foreign Host", async () => {
  await withWindow({}, async ({ page }) => {
    const url = new URL(page.url());
    const secret = url.pathname.split("/")[1];
    const bridge = `${url.origin}/${secret}/__front__/bridge`;
    const body = JSON.stringify({ op: "get", object: "Application", name: "Email", page: "x" });
    assert.equal(await request(bridge, { secret, body }), 200, "the page's own request");
    assert.equal(await request(bridge, { body }), 403, "no secret header");
    assert.equal(await request(bridge, { secret: "0".repeat(32), body }), 403, "a wrong secret");
    assert.equal(await request(bridge, { secret, body, host: "attacker.example:80" }), 403, "foreign Host");
    assert.equal(await request(`${url.origin}/index.html`, {}), 403, "a file outside the secret's folder");
    assert.equal(await request(page.url(), { host: `localhost:${url.port}` }), 403, "a page under another Host");
    assert.equal(await request(page.url(), {}), 200);
  });
});
