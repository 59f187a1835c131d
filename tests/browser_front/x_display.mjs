// The X server that DISPLAY names, as a user meets it: what its screen shows, and real input
// events through the XTest extension (xdotool without a target window uses XTest).
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";

// A binary PPM (P6) as width, height and RGB bytes.
export function readPpm(bytes) {
  const header = /^P6\s+(\d+)\s+(\d+)\s+(\d+)\s/.exec(bytes.subarray(0, 64).toString("latin1"));
  assert.ok(header, "a binary PPM");
  return { width: Number(header[1]), height: Number(header[2]), rgb: bytes.subarray(header[0].length) };
}

// The screen's pixels in a rectangle, as X shows them: PPM, and the same as PNG into `png`.
export function screenArea({ left, top, width, height }, png) {
  const ppm = execFileSync("sh", ["-c", `xwd -root -silent | xwdtopnm 2>/dev/null | pnmcut -left ${left} -top ${top} -width ${width} -height ${height}`],
                           { maxBuffer: 64 << 20 });
  fs.writeFileSync(png, execFileSync("pnmtopng", { input: ppm, maxBuffer: 64 << 20, stdio: ["pipe", "pipe", "ignore"] }));
  return readPpm(ppm);
}

// A PNG (a page's screenshot) as PPM.
export const pngToPpm = (png) => readPpm(execFileSync("pngtopnm", { input: png, maxBuffer: 64 << 20, stdio: ["pipe", "pipe", "ignore"] }));

// How many pixels of two pictures of one size differ by more than a rounding.
export function differingPixels(a, b) {
  assert.deepEqual([a.width, a.height], [b.width, b.height]);
  let differing = 0;
  for (let at = 0; at < a.rgb.length; at += 3) {
    if ([0, 1, 2].some((channel) => Math.abs(a.rgb[at + channel] - b.rgb[at + channel]) > 8)) ++differing;
  }
  return differing;
}

// xdotool's commands, chained in one run so that their events reach the X server back to back.
export function xdotool(...args) {
  execFileSync("xdotool", args.map(String), { stdio: ["ignore", "ignore", "pipe"] });
}
