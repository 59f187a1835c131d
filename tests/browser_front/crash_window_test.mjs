// The crash window run by the browser front's script side in headless Chromium, against a
// stand-in of the engine's bridge.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { createRequire } from "node:module";
import { fileURLToPath } from "node:url";
import { startFrontServer } from "./front_server.mjs";
import { eventually, expectTextLimit, textOf } from "./page_helpers.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const source = path.resolve(here, "../..");
// The folder that npm installed the lock file into (its node_modules holds playwright-core).
const modules = process.env.BROWSER_FRONT_MODULES || here;
const { chromium } = createRequire(path.join(modules, "package.json"))("playwright-core");
const screenshots = process.env.SCREENSHOT_DIR || path.join(os.tmpdir(), "tallorin-screenshots");

const kFlags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync"];
const kSecondParagraph = "Upon closing, a crash report was generated. Please send it to us with a describing a problem in a form below to help us to fix it and improve this software.";
const kInvalidText = "Email must be in form of name@example.com";

let context;
let profile;

before(async () => {
  profile = fs.mkdtempSync(path.join(os.tmpdir(), "tallorin-chromium-"));
  fs.mkdirSync(screenshots, { recursive: true });
  context = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: kFlags,
    viewport: { width: 560, height: 540 },
    timeout: 60000,
  });
});

after(async () => {
  await context?.close();
  fs.rmSync(profile, { recursive: true, force: true });
});

async function openWindow(options = {}) {
  const server = await startFrontServer({
    root: path.join(source, "resources/ui"),
    frontFolder: path.join(source, "platform/engine/browser"),
    email: "user@example.com",
    ...options,
  });
  const page = await context.newPage();
  const errors = [];
  page.on("pageerror", (error) => errors.push(error));
  await page.goto(server.url("index.html"));
  await page.locator("#send").waitFor();
  return {
    server, page, errors,
    done: async () => {
      await page.close();
      await server.close();
      assert.deepEqual(errors, [], "no script errors");
    },
  };
}

const logged = (server, line) => server.state.console.some((entry) => entry.text === line);

test("the window opens with the command line's address and the English texts", async () => {
  const { server, page, done } = await openWindow();
  assert.equal(await page.inputValue("#email"), "user@example.com");
  assert.equal(await textOf(page, ".caption-text"), "Critical Error");
  const paragraphs = await page.locator(".description .text-item").allInnerTexts();
  assert.deepEqual(paragraphs, ["We’re sorry, the information you were working on might be lost.", kSecondParagraph]);
  assert.equal(await textOf(page, ".textarea-label"), "Please give us as much details as possible");
  assert.equal(await textOf(page, ".textarea-counter"), "0/300");
  assert.equal(await page.getAttribute("#email", "placeholder"), "Email");
  assert.equal(await page.getAttribute("#description", "placeholder"), "", "no placeholder given, none shown");
  assert.equal((await textOf(page, "#cancel")).toLowerCase(), "cancel");
  assert.equal((await textOf(page, "#send")).toLowerCase(), "send");
  assert.equal(await page.isEnabled("#send"), true);
  assert.equal(await page.locator(".input-error").count(), 0);

  // The page's look, as the rewritten styles give it.
  const look = await page.evaluate(() => {
    const style = (selector) => getComputedStyle(document.querySelector(selector));
    return {
      layout: style(".layout-base").backgroundColor,
      caption: style(".caption").height,
      captionFlow: style(".caption").display,
      captionText: [style(".caption-text").fontSize, style(".caption-text").color, style(".caption-text").marginLeft],
      description: [style(".description").height, style(".description").paddingTop],
      paragraph: [style(".description .text-item").fontSize, style(".description .text-item").lineHeight],
      textarea: style("#description").height,
      inputWidth: style(".input.xnormal").width,
      border: style("body").borderTopWidth,
    };
  });
  assert.deepEqual(look, {
    layout: "rgb(26, 32, 46)", caption: "68px", captionFlow: "flex",
    captionText: ["22px", "rgb(176, 181, 200)", "11px"],
    description: ["136px", "24px"], paragraph: ["15px", "22px"], textarea: "100px",
    inputWidth: "320px", border: "1px",
  });
  const box = await page.locator(".caption-bar").boundingBox();
  assert.ok(box.x + box.width >= 550, "the close button sits at the caption's right end");

  // What the components asked for, in the order the window builds itself.
  const calls = server.state.calls.map((call) => `${call.op} ${call.object}.${call.name}`);
  assert.deepEqual(calls.slice(0, 4), ["call Localizer.on", "get Application.Email",
                                        "call Localizer.GetCurrentLanguage", "call Localizer.on"]);
  assert.ok(server.state.calls.some((call) => call.name === "Localize" && call.args[0] === undefined),
            "the text area's missing placeholder is looked up too");
  await page.screenshot({ path: path.join(screenshots, "crash-window-form.png") });
  await done();
});

test("an invalid address blocks sending until a valid one is typed; an emptied one does not", async () => {
  const { server, page, done } = await openWindow({ email: "user@localhost" });
  assert.equal(await page.isDisabled("#send"), true);
  assert.equal(await textOf(page, ".input-error"), kInvalidText);
  const border = await page.$eval("#email", (input) => getComputedStyle(input).borderTopColor);
  assert.equal(border, "rgba(255, 87, 0, 0.4)");
  await page.screenshot({ path: path.join(screenshots, "crash-window-invalid-email.png") });

  await page.fill("#email", "someone@example.org");
  await eventually(() => page.isEnabled("#send"), "send enabled");
  assert.equal(await page.locator(".input-error").count(), 0);

  await page.fill("#email", "");
  await eventually(async () => (await page.locator(".input-error").count()) === 1, "empty marked invalid");
  assert.equal(await page.isEnabled("#send"), true, "an empty address does not block sending");
  await page.click("#send");
  await page.frameLocator("iframe").locator("#ok").click();
  await eventually(() => server.state.closes.length === 1, "window closed");
  assert.deepEqual(server.state.reports, [{ email: "", description: "" }], "nothing typed: an empty description");
  await done();
});

test("the text area takes at most 300 characters", async () => {
  const { page, done } = await openWindow();
  await expectTextLimit(page);
  await done();
});

test("send hands over address and description, thanks the user, and OK closes the window", async () => {
  const { server, page, done } = await openWindow();
  await page.fill("#email", "reporter@example.net");
  await page.fill("#description", "It crashed while scanning.");
  await page.click("#send");

  const dialog = page.frameLocator("iframe");
  await dialog.locator("#ok").waitFor();
  assert.deepEqual(server.state.reports, [{ email: "reporter@example.net", description: "It crashed while scanning." }]);
  assert.equal(await dialog.locator(".message-box-title").innerText(), "Thank You for Submitting!");
  assert.equal((await dialog.locator("#ok").innerText()).toLowerCase(), "ok");
  assert.equal(await page.locator("body > .backdrop").count(), 1);
  assert.equal(await page.$eval("body > .backdrop", (element) => getComputedStyle(element).opacity), "0.8");
  assert.equal(server.state.closes.length, 0, "the window stays while the box is open");
  await page.screenshot({ path: path.join(screenshots, "crash-window-thank-you.png") });

  await dialog.locator("#ok").click();
  await eventually(() => server.state.closes.length === 1, "window closed");
  assert.equal(await page.locator("iframe").count(), 0);
  assert.equal(await page.locator(".backdrop").count(), 0);
  assert.equal(server.state.reports.length, 1);
  await done();
});

test("the box's own close button closes it, and then the window", async () => {
  const { server, page, done } = await openWindow();
  await page.click("#send");
  const dialog = page.frameLocator("iframe");
  await dialog.locator("#close").click();
  await eventually(() => server.state.closes.length === 1, "window closed");
  assert.equal(server.state.reports.length, 1);
  await done();
});

test("a thank-you box that cannot open is logged, and the window still closes", async () => {
  const { server, page, done } = await openWindow({ missing: ["src/common/windows/windowTransparent.html"] });
  await page.click("#send");
  await eventually(() => server.state.closes.length === 1, "window closed");
  assert.equal(server.state.reports.length, 1);
  assert.ok(server.state.console.some((entry) => entry.level === "error" &&
                                      entry.text.startsWith("<creatorWindowMessageBox> failed to open message box")));
  assert.equal(await page.locator(".backdrop, iframe").count(), 0);
  await done();
});

test("isEmailValid accepts what its pattern describes", async () => {
  const { page, done } = await openWindow();
  const cases = [
    ["user@example.com", false, true], ["a.b-c_d@mail-1.example.co", false, true],
    ["user@localhost", false, false], ["user@example.c", false, false], ["user@example.toolong", false, false],
    ["us er@example.com", false, false], ["user@@example.com", false, false], ["@example.com", false, false],
    ["", false, false], ["", true, true], ["x", true, false],
  ];
  const answers = await page.evaluate(async (list) => {
    const { isEmailValid } = await import(Window.this.ROOT_PATH + "src/common/validators.js");
    return list.map(([email, allowEmpty]) => isEmailValid(email, allowEmpty));
  }, cases);
  assert.deepEqual(answers, cases.map((c) => c[2]));
  await done();
});

test("cancel and the caption's close button close without sending, giving back the listeners", async () => {
  for (const button of ["#cancel", ".caption #close"]) {
    const { server, page, done } = await openWindow();
    const subscribed = server.state.listeners.size;
    assert.ok(subscribed >= 4, "App, its own subscription, CaptionBar and Input listen");
    await page.click(button);
    await eventually(() => server.state.closes.length === 1, `${button} closed the window`);
    assert.deepEqual(server.state.reports, []);
    if (button === "#cancel") assert.ok(logged(server, "<App> cancel"));
    assert.equal(server.state.listeners.size, 1, "only App's own subscription stays");
    await done();
  }
});

test("a language change reaches the window during the call and re-renders it", async () => {
  const { server, page, done } = await openWindow();
  const result = await page.evaluate(() => {
    const seen = [];
    Localizer.on("language-changed", (language) => seen.push(language + ":" + Localizer.GetCurrentLanguage()));
    const answer = Localizer.SetCurrentLanguage("German");
    return { seen, answer: String(answer), refused: String(Localizer.SetCurrentLanguage("Klingon")) };
  });
  assert.deepEqual(result, { seen: ["German:German"], answer: "undefined", refused: "Error: no language" });
  assert.ok(logged(server, "<App> language changed. language=German"));
  for (const component of ["App", "CaptionBar", "Input"]) assert.ok(logged(server, `<${component}> locale changed`));
  await eventually(async () => (await textOf(page, ".caption-text")) === "[German] Critical Error", "re-rendered");
  const display = await page.$$eval(".description .text-item", (items) => items.map((item) => getComputedStyle(item).display));
  assert.deepEqual(display, ["inline", "inline"], "the paragraphs run on as one");
  await page.screenshot({ path: path.join(screenshots, "crash-window-language-changed.png") });
  await done();
});

// Where the keyboard is: the page's focused element, and inside the box's frame its own.
const focusOf = (page) => page.evaluate(() => {
  const frame = document.querySelector("iframe");
  const inner = frame?.contentDocument?.activeElement;
  return { outer: document.activeElement?.tagName.toLowerCase(), inner: inner?.id || inner?.tagName.toLowerCase() };
});

test("the thank-you box holds the window: the page is inert, the keyboard is the box's, Enter presses OK", async () => {
  const { server, page, done } = await openWindow();
  await page.focus("#send");
  await page.keyboard.press("Enter");
  const dialog = page.frameLocator("iframe");
  await dialog.locator("#ok").waitFor();
  await eventually(async () => (await focusOf(page)).inner === "ok", "the keyboard on OK");
  assert.deepEqual(await focusOf(page), { outer: "iframe", inner: "ok" });
  assert.deepEqual(await page.evaluate(() => [document.head.inert, document.body.inert,
                                             document.querySelector("[data-front=modal]").inert]),
                   [true, true, false], "everything but the box is inert");
  // Keys and clicks meant for the page reach nothing of it; Tab goes round the box's buttons.
  for (const key of ["Tab", "Tab", "Tab"]) await page.keyboard.press(key);
  assert.deepEqual(await focusOf(page), { outer: "iframe", inner: "close" });
  const send = await page.evaluate(() => {
    const box = document.querySelector("#send").getBoundingClientRect();
    return { x: box.x + box.width / 2, y: box.y + box.height / 2 };
  });
  await page.mouse.click(send.x, send.y);
  assert.equal(server.state.reports.length, 1, "send went once");
  assert.equal(server.state.closes.length, 0);
  await eventually(async () => (await focusOf(page)).outer === "iframe", "the keyboard still in the box");
  await page.focus("iframe");
  await dialog.locator("#ok").focus();
  await page.keyboard.press("Enter");
  await eventually(() => server.state.closes.length === 1, "OK closed the box, then the window");
  assert.equal(server.state.reports.length, 1);
  assert.equal(await page.evaluate(() => document.body.inert), true, "a closed window takes no more input");
  await done();
});

test("a box that closes gives the page back its input and the keyboard where it was", async () => {
  const { server, page, done } = await openWindow();
  await page.focus("#email");
  await page.evaluate(async () => {
    const { InformationMessageBox } = await import(Window.this.ROOT_PATH + "src/common/MessageBox/InformationMessageBox.js");
    window.boxAnswer = "open";
    InformationMessageBox({ title: "a box" }).then((answer) => { window.boxAnswer = answer; });
  });
  await page.frameLocator("iframe").locator("#ok").waitFor();
  await eventually(async () => (await focusOf(page)).inner === "ok", "the keyboard on OK");
  assert.equal(await page.evaluate(() => document.body.inert), true);
  await page.keyboard.press("Escape");
  await eventually(() => page.evaluate(() => window.boxAnswer !== "open"), "the box closed");
  assert.deepEqual(await page.evaluate(() => [window.boxAnswer, document.body.inert, document.head.inert,
                                               document.activeElement.id]),
                   [undefined, false, false, "email"]);
  await page.keyboard.type("x");
  assert.equal(await page.inputValue("#email"), "user@example.comx", "the page has the keyboard again");
  assert.deepEqual([server.state.reports, server.state.closes], [[], []]);
  await done();
});

test("Escape on the thank-you box presses its close button; Enter and Space there send nothing more", async () => {
  for (const keys of [["Escape"], [" ", "Enter", " "]]) {
    const { server, page, done } = await openWindow();
    await page.click("#send");
    await page.frameLocator("iframe").locator("#ok").waitFor();
    await eventually(async () => (await focusOf(page)).inner === "ok", "the keyboard on OK");
    for (const key of keys) await page.keyboard.press(key);
    await eventually(() => server.state.closes.length === 1, `${keys}: the box closed, then the window`);
    assert.equal(server.state.reports.length, 1, `${keys}: one report`);
    assert.equal(await page.locator("iframe, .backdrop").count(), 0);
    await done();
  }
});

test("a send is judged by the address at the click, and a window sends once however fast the clicks", async () => {
  const { server, page, done } = await openWindow();
  // A key that spoils the address and a click in the same turn: the button's state has not
  // followed yet.
  const enabledAtClick = await page.evaluate(() => {
    const input = document.querySelector("#email");
    input.value += "!";
    input.dispatchEvent(new Event("input", { bubbles: true }));
    const send = document.querySelector("#send");
    const enabled = !send.disabled;
    send.click();
    return enabled;
  });
  assert.equal(enabledAtClick, true, "the click came before the button followed");
  await eventually(() => page.isDisabled("#send"), "send disabled");
  assert.deepEqual([server.state.reports, await page.locator("iframe").count()], [[], 0], "nothing sent, no box");

  await page.fill("#email", "user@example.com");
  await eventually(() => page.isEnabled("#send"), "send enabled again");
  await page.evaluate(() => { for (let i = 0; i < 3; ++i) document.querySelector("#send").click(); });
  await page.frameLocator("iframe").locator("#ok").click();
  await eventually(() => server.state.closes.length === 1, "window closed");
  assert.deepEqual(server.state.reports, [{ email: "user@example.com", description: "" }]);
  await done();
});

test("an address with a line break starts as the field holds it: mark, button and report agree", async () => {
  for (const email of ["user@example.com\n", "user@example.com\r\n", "user@\nexample.com"]) {
    const { server, page, done } = await openWindow({ email });
    const state = async () => [await page.inputValue("#email"), await page.locator(".input-error").count(),
                               await page.isEnabled("#send")];
    assert.deepEqual(await state(), ["user@example.com", 0, true], JSON.stringify(email));
    await page.focus("#email");
    await page.focus("#description");
    await page.waitForTimeout(50);  // a re-render, had the visit made one
    assert.deepEqual(await state(), ["user@example.com", 0, true], `${JSON.stringify(email)}: visited`);
    await page.click("#send");
    await page.frameLocator("iframe").locator("#ok").click();
    await eventually(() => server.state.closes.length === 1, "window closed");
    assert.deepEqual(server.state.reports, [{ email: "user@example.com", description: "" }]);
    await done();
  }
});

test("a call that the bridge refuses is written to the console, though the page swallows it", async () => {
  const { server, page, done } = await openWindow();
  // The pattern takes it; the bridge takes no body over 1 MiB.
  await page.fill("#email", `${"a".repeat(1 << 20)}@example.com`);
  await eventually(() => page.isEnabled("#send"), "send enabled");
  await page.click("#send");
  await page.frameLocator("iframe").locator("#ok").click();
  await eventually(() => server.state.closes.length === 1, "window closed");
  assert.deepEqual(server.state.reports, []);
  const errors = server.state.console.filter((entry) => entry.level === "error").map((entry) => entry.text);
  assert.deepEqual(errors, ["bridge answered 413 to call Application.SendReport"]);
  await done();
});

test("Tab goes round the thank-you box's buttons and the form's controls, never out of the page", async () => {
  const { server, page, done } = await openWindow();
  const stops = [];
  for (let i = 0; i < 6; ++i) {
    await page.keyboard.press("Tab");
    stops.push(await page.evaluate(() => document.activeElement?.id || document.activeElement?.tagName.toLowerCase()));
  }
  assert.deepEqual(stops, ["close", "description", "email", "cancel", "send", "close"]);
  await page.keyboard.press("Shift+Tab");
  await page.keyboard.press("Enter");  // on send
  await page.frameLocator("iframe").locator("#ok").waitFor();
  await eventually(async () => (await focusOf(page)).inner === "ok", "the keyboard on OK");
  const inBox = [];
  for (const key of ["Tab", "Tab", "Tab", "Shift+Tab", "Shift+Tab", "Shift+Tab"]) {
    await page.keyboard.press(key);
    inBox.push((await focusOf(page)).inner);
  }
  assert.deepEqual(inBox, ["close", "ok", "close", "ok", "close", "ok"]);
  await page.keyboard.press("Enter");
  await eventually(() => server.state.closes.length === 1, "Enter still pressed OK");
  assert.equal(server.state.reports.length, 1);
  await done();
});
