// Dims the window while a dialog stands over it.
import { folderOf } from "../paths.js";

const kHere = folderOf(import.meta.url);

export function addBackdrop() {
  const backdrop = document.createElement("div");
  backdrop.className = "backdrop";
  backdrop.setAttribute("styleset", kHere + "WindowBackdrop.css#WindowBackdrop");
  document.body.prepend(backdrop);
  return backdrop;
}

export function removeBackdrop() {
  for (const backdrop of document.body.querySelectorAll(":scope > .backdrop")) {
    backdrop.remove();
  }
}

export const WindowBackdrop = { addBackdrop, removeBackdrop };
