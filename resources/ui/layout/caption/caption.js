// One line of text under the window's caption.
export function Caption(text) {
  const line = document.createElement("p");
  line.textContent = text;
  return line;
}
