// Waiting and reading helpers shared by the browser tests.
import assert from "node:assert/strict";

// Polls `check` until it gives something truthy (what it gives is answered) or time runs out.
export async function eventually(check, what, timeout = 5000) {
  const deadline = Date.now() + timeout;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) assert.fail(`never happened: ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 25));
  }
}

export const textOf = (page, selector) => page.locator(selector).first().innerText();

// The description takes 300 characters and no more; the counter follows.
export async function expectTextLimit(page, timeout = 5000) {
  const counter = (text) => eventually(async () => (await textOf(page, ".textarea-counter")) === text, text, timeout);
  await page.fill("#description", "x".repeat(299));
  await counter("299/300");
  await page.press("#description", "End");
  await page.keyboard.type("yz");
  await counter("300/300");
  const value = await page.inputValue("#description");
  assert.equal(value.length, 300);
  assert.equal(value.at(-1), "y");
}

// The window's page area as it is, how far the page moves when asked to scroll to its end, and
// the elements (text fields aside) that could scroll their content.
export function pageArea(page) {
  return page.evaluate(() => {
    window.scrollTo(100000, 100000);
    const scrolled = [window.scrollX, window.scrollY];
    window.scrollTo(0, 0);
    const scrollers = [...document.querySelectorAll("*")]
      .filter((element) => !(element instanceof HTMLTextAreaElement || element instanceof HTMLInputElement))
      .filter((element) => /auto|scroll/.test(getComputedStyle(element).overflow) &&
                           (element.scrollHeight > element.clientHeight || element.scrollWidth > element.clientWidth))
      .map((element) => `${element.tagName.toLowerCase()}.${element.className}`);
    return { width: innerWidth, height: innerHeight, scrolled, scrollers };
  });
}
